list(APPEND TESSEL_BRIDGE_SOURCES
  bridge/ConnectWrapper.cpp
  bridge/FieldTypeNames.cpp
  bridge/ErrorContext.cpp
  bridge/Trace.cpp
  bridge/Util.cpp
)
