list(APPEND TESSEL_BRIDGE_SOURCES
  rows/SqlRow.cpp
  rows/Staging.cpp
  rows/BulkTransfer.cpp
)
