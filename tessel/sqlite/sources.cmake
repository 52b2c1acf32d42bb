# The SQLite backend, files by role: SqliteConnect (the component and its
# factory function), Handles (RAII for connections, statements and
# transactions), Errors (result codes to errors and retry texts), Binding
# (values in and out of statements), Schema (table shapes), Writer (the bulk
# insert path), Routines (the tessel_procedures catalogue).
list(APPEND TESSEL_COMPONENT_SOURCES
  sqlite/SqliteConnect.cpp
  sqlite/Handles.cpp
  sqlite/Errors.cpp
  sqlite/Binding.cpp
  sqlite/Schema.cpp
  sqlite/Writer.cpp
  sqlite/Routines.cpp
)
