# The SQLite backend, files by role: SqliteConnect (the component and its
# factory function), Session (the connection and its connection strings), Handles (RAII for connections, statements and
# transactions), Errors (result codes to error categories), Binding (values
# in and out of statements), TypeMap (declared types), DefaultLiteral (column
# defaults), Schema (table shapes), Writer (the bulk insert path), Routines
# (the tessel_procedures catalogue).
list(APPEND TESSEL_COMPONENT_SOURCES
  sqlite/SqliteConnect.cpp
  sqlite/Session.cpp
  sqlite/Handles.cpp
  sqlite/Errors.cpp
  sqlite/Binding.cpp
  sqlite/TypeMap.cpp
  sqlite/DefaultLiteral.cpp
  sqlite/Schema.cpp
  sqlite/Writer.cpp
  sqlite/Routines.cpp
)
