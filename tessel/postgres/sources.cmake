list(APPEND TESSEL_COMPONENT_SOURCES
  postgres/PostgresConnect.cpp
)
