# The contract headers live in include/TesselWrapper/component/; this folder
# holds the bridge's own glue to the component.
list(APPEND TESSEL_BRIDGE_SOURCES
  component/ComponentAccess.cpp
)
