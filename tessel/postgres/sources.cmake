list(APPEND TESSEL_COMPONENT_SOURCES
  postgres/Commit.cpp
  postgres/CopyFormat.cpp
  postgres/DefaultLiteral.cpp
  postgres/Errors.cpp
  postgres/PostgresConnect.cpp
  postgres/Routines.cpp
  postgres/Schema.cpp
  postgres/Session.cpp
  postgres/TypeMap.cpp
  postgres/Writer.cpp
)
