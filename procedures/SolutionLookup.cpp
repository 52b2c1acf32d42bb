// The case and solution identifiers of a model directory, packed into one
// native text: "Caseid:SolutionId;" per row, in row order.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/Text.h"
#include "bridge/ErrorContext.h"

std::string ConnectWrapper::GetMaxSolnIdCaseId(std::string modelDir) {
  Tessel::DbConnect& component = Component();
  std::string result;
  const std::shared_ptr<Tessel::Data::DataTable> table =
      component.GetMaxSolnIdCaseId(Tessel::Text::NativeToManaged(modelDir));
  if (!table || table->Rows().Count() == 0) return result;

  // The columns are looked up by name (exactly, else the one match ignoring
  // case, so a "CaseId" column serves) once, at the first row: a table without
  // rows is never asked for them.
  std::size_t solutionColumn = 0;
  std::size_t caseColumn = 0;
  try {
    solutionColumn = table->ColumnIndex("SolutionId");
    caseColumn = table->ColumnIndex("Caseid");
  } catch (...) {
    Tessel::RethrowWithContext("GetMaxSolnIdCaseId for model directory " + Tessel::Quoted(modelDir) +
                               ": reading table " + Tessel::Quoted(table->TableName()));
  }
  for (const Tessel::Data::DataRow row : table->Rows()) {
    const std::string solution = row.Get(solutionColumn).ToString();
    const std::string caseId = row.Get(caseColumn).ToString();
    result.append(Tessel::Text::ManagedToNative(std::string_view(caseId)))
        .append(1, ':')
        .append(Tessel::Text::ManagedToNative(std::string_view(solution)))
        .append(1, ';');
  }
  return result;
}
