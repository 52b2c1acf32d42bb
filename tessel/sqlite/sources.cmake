list(APPEND TESSEL_COMPONENT_SOURCES
  sqlite/SqliteConnect.cpp
)
