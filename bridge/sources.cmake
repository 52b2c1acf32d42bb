list(APPEND TESSEL_BRIDGE_SOURCES
  bridge/ConnectWrapper.cpp
  bridge/Util.cpp
)
