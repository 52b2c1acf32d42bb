list(APPEND TESSEL_BRIDGE_SOURCES
  procedures/SimpleDbParameter.cpp
  procedures/StoredProcedure.cpp
  procedures/SolutionLookup.cpp
)
