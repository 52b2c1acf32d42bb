list(APPEND TESSEL_BRIDGE_SOURCES
  jobs/Bridge.cpp
  jobs/RoutineText.cpp
  jobs/CaseSolutionList.cpp
  jobs/CsvReader.cpp
  jobs/CsvRecordBuilder.cpp
  jobs/CsvLoad.cpp
  jobs/DemoSchema.cpp
  jobs/Demo.cpp
)
