// The CSV load (Tessel::Jobs::LoadCsvFile) in two modes, picked by the first
// byte:
//
//   raw          the rest of the input is the file, as it is, loaded into one
//                of two tables with one of four delimiters.
//   generated    the harness writes a file it knows: a header naming some of
//                the table's columns (in any order, some in another letter
//                case), records of valid values of every type, quoted or not
//                (quotes, delimiters and line breaks inside quoted fields),
//                LF or CRLF, blank lines, a byte order mark, with or without a
//                last line break; and sometimes one fault in one record: a
//                key given on an earlier line, a value its column cannot
//                hold, a field too many, a required value missing, a stray
//                quote.
//
// Oracle:
//   - all or nothing: after a load that throws, the table holds no row;
//     after one that returns, it holds exactly the summary's rows;
//   - nothing but a Tessel::Error leaves the load;
//   - a generated file without a fault loads, and every row reads back as
//     written: integers and doubles exactly, texts byte for byte (an
//     unquoted empty field is null, a quoted one an empty text in a text
//     column), dates within 1 ms, booleans as 0/1, left-out columns at their
//     defaults;
//   - a generated file with a fault throws CsvLoadError naming the physical
//     line on which the faulty record starts.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/jobs/CsvLoad.h"

namespace {

using Tessel::Fuzz::Check;
using Tessel::Fuzz::Violation;

struct World : Tessel::Fuzz::RowWorld {
  World()
      : RowWorld("csv",
                 "CREATE TABLE items (id INTEGER PRIMARY KEY, code TEXT NOT NULL UNIQUE,"
                 "  qty INTEGER NOT NULL DEFAULT 0, price REAL, flag BOOLEAN, born DATETIME, note TEXT);"
                 "CREATE TABLE pairs (a INTEGER NOT NULL, b TEXT COLLATE NOCASE, c NUMERIC, UNIQUE (a, b))") {
  }
  std::string csv = path + ".csv";
};

World& TheWorld() {
  static World* world = new World;
  return *world;
}

void WriteFile(const std::string& path, const std::string& content) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Violation("cannot write " + path);
  if (!content.empty() && std::fwrite(content.data(), 1, content.size(), file) != content.size())
    Violation("short write to " + path);
  std::fclose(file);
}

struct Loaded {
  std::optional<Tessel::Jobs::CsvLoadSummary> summary;
  std::optional<Tessel::Jobs::CsvLoadError> csvError;
  std::string error;
};

Loaded Load(World& world, const std::string& table, char delimiter) {
  Loaded loaded;
  Tessel::Jobs::CsvLoadOptions options;
  options.delimiter = delimiter;
  try {
    loaded.summary = Tessel::Jobs::LoadCsvFile(world.bridge, table, world.csv, options);
  } catch (const Tessel::Jobs::CsvLoadError& e) {
    loaded.csvError = e;
    loaded.error = e.what();
  } catch (const Tessel::Error& e) {
    loaded.error = e.what();
  }
  return loaded;
}

// All or nothing.
void CheckAllOrNothing(World& world, const std::string& table, const Loaded& loaded) {
  const long long rows = world.checker.Count(table);
  if (rows != 0) world.dirty = true;
  if (loaded.summary) {
    Check(rows == static_cast<long long>(loaded.summary->rows),
          "the load reported " + std::to_string(loaded.summary->rows) + " rows, table '" + table +
              "' holds " + std::to_string(rows));
  } else {
    Check(rows == 0, "the load failed (" + loaded.error + ") but table '" + table + "' holds " +
                         std::to_string(rows) + " rows");
  }
}

// --- generated files ------------------------------------------------------

enum class Column { Id, Code, Qty, Price, Flag, Born, Note };
constexpr const char* kNames[] = {"id", "code", "qty", "price", "flag", "born", "note"};

struct Cell {
  std::string field;  // as written in the file, quotes included
  bool present = false;
  // What the database must hold: integer, real, text, julian day, or null.
  enum { Null, Integer, Real, Text, Julian } kind = Null;
  long long integer = 0;
  double real = 0;
  std::string text;
};

struct Record {
  std::vector<Cell> cells;  // one per header column
  int line = 0;             // physical line on which it starts
};

class Generator {
 public:
  Generator(FuzzedDataProvider& in, char delimiter) : in_(in), delimiter_(delimiter) {}

  std::string Quote(const std::string& text, bool always) {
    const bool needs = text.find_first_of(std::string("\"\r\n") + delimiter_) != std::string::npos;
    if (!needs && !always) return text;
    std::string quoted = "\"";
    for (char c : text) {
      if (c == '"') quoted += '"';
      quoted += c;
    }
    return quoted + '"';
  }

  // Valid UTF-8 of a few kinds of character, line breaks only when allowed.
  std::string Text(bool lineBreaks) {
    static const char* const kPieces[] = {"a",  "Z",    "7",  " ",        "\"",           ",",
                                          ";",  "\t",   "|",  "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                          "\n", "\r\n", "x y"};
    std::string text;
    const int n = in_.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < n; ++i) {
      const std::string piece = in_.PickValueInArray(kPieces);
      if (!lineBreaks && (piece == "\n" || piece == "\r\n")) continue;
      text += piece;
    }
    return text;
  }

  Cell Make(Column column, int index, bool lineBreaks) {
    Cell cell;
    cell.present = true;
    switch (column) {
      case Column::Id:
        cell.kind = Cell::Integer;
        cell.integer = index * 3 + 1;  // rising, so rowid order is file order
        cell.field = std::to_string(cell.integer);
        break;
      case Column::Code: {
        cell.kind = Cell::Text;
        cell.text = "c" + std::to_string(index) + "-" + Text(lineBreaks);  // unique whatever follows
        cell.field = Quote(cell.text, in_.ConsumeBool());
        break;
      }
      case Column::Qty: {
        if (in_.ConsumeBool()) {
          cell.present = false;  // default 0
          cell.kind = Cell::Integer;
          cell.integer = 0;
          break;
        }
        cell.kind = Cell::Integer;
        cell.integer =
            in_.ConsumeBool() ? in_.ConsumeIntegral<std::int32_t>() : in_.ConsumeIntegral<std::int64_t>();
        cell.field = std::to_string(cell.integer);
        if (in_.ConsumeIntegralInRange(0, 7) == 0) cell.field = Quote(cell.field, true);
        break;
      }
      case Column::Price: {
        if (in_.ConsumeIntegralInRange(0, 4) == 0) {
          cell.present = false;
          break;
        }
        double d = static_cast<double>(in_.ConsumeIntegral<std::int32_t>()) /
                   (1 << in_.ConsumeIntegralInRange(0, 20));
        if (in_.ConsumeIntegralInRange(0, 5) == 0) {
          const auto bits = in_.ConsumeIntegral<std::uint64_t>();
          std::memcpy(&d, &bits, sizeof d);
          if (!std::isfinite(d)) d = 1.5;
        }
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, in_.ConsumeBool() ? "%.17g" : "%.17e", d);
        cell.kind = Cell::Real;
        cell.real = d;
        cell.field = buffer;
        break;
      }
      case Column::Flag: {
        static const char* const kWords[] = {"0", "1", "True", "false", "TRUE"};
        const std::string word = in_.PickValueInArray(kWords);
        cell.kind = Cell::Integer;
        cell.integer = (word == "1" || word == "True" || word == "TRUE") ? 1 : 0;
        cell.field = word;
        break;
      }
      case Column::Born: {
        const int year = in_.ConsumeIntegralInRange(1, 9999), month = in_.ConsumeIntegralInRange(1, 12),
                  day = in_.ConsumeIntegralInRange(1, 28), hour = in_.ConsumeIntegralInRange(0, 23),
                  minute = in_.ConsumeIntegralInRange(0, 59), second = in_.ConsumeIntegralInRange(0, 59),
                  ms = in_.ConsumeIntegralInRange(0, 999);
        char buffer[40];
        const int form = in_.ConsumeIntegralInRange(0, 2);
        if (form == 0) {
          std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
        } else {
          std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d%c%02d:%02d:%02d.%03d", year, month, day,
                        form == 1 ? ' ' : 'T', hour, minute, second, ms);
        }
        cell.field = buffer;
        cell.kind = Cell::Julian;
        cell.real =
            Julian(year, month, day) +
            ((form == 0 ? 0 : hour * 3600 + minute * 60 + second) + (form == 0 ? 0 : ms) / 1000.0) / 86400.0;
        break;
      }
      case Column::Note: {
        switch (in_.ConsumeIntegralInRange(0, 3)) {
          case 0:  // unquoted empty: left out, null
            cell.present = false;
            break;
          case 1:  // quoted empty: an empty text
            cell.kind = Cell::Text;
            cell.field = "\"\"";
            break;
          default:
            cell.kind = Cell::Text;
            cell.text = Text(lineBreaks);
            // A text with blanks around it is kept as it is; quoted or not.
            cell.field = Quote(cell.text, in_.ConsumeBool());
            if (cell.field.empty()) cell.kind = Cell::Null;  // an unquoted empty field is left out
            break;
        }
        break;
      }
    }
    return cell;
  }

  // The proleptic Gregorian day as a julian day number at midnight.
  static double Julian(int y, int m, int d) {
    const int a = (14 - m) / 12;
    const long long yy = y + 4800 - a, mm = m + 12 * a - 3;
    const long long jdn = d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
    return static_cast<double>(jdn) - 0.5;
  }

 private:
  FuzzedDataProvider& in_;
  char delimiter_;
};

enum class Fault { None, RepeatedKey, BadValue, ExtraField, MissingRequired, StrayQuote };

// Puts `fault` into the record; false when it cannot be placed there (no
// earlier key to repeat on one line, no column to spoil), which leaves the
// record valid.
bool Spoil(Record& record, const std::vector<Column>& header, Fault fault,
           const std::vector<std::string>& codes, Generator& gen, FuzzedDataProvider& in) {
  std::size_t code = 0;
  for (std::size_t i = 0; i < header.size(); ++i)
    if (header[i] == Column::Code) code = i;
  switch (fault) {
    case Fault::RepeatedKey: {
      if (codes.empty()) return false;
      const std::string& earlier = codes[in.ConsumeIntegralInRange<std::size_t>(0, codes.size() - 1)];
      if (earlier.find_first_of("\r\n") != std::string::npos)
        return false;  // the record must fit on its line
      record.cells[code].field = gen.Quote(earlier, false);
      return true;
    }
    case Fault::BadValue: {
      bool spoilt = false;
      for (std::size_t i = 0; i < header.size(); ++i) {
        const char* bad = header[i] == Column::Qty     ? "12x"
                          : header[i] == Column::Born  ? "2024-02-30"
                          : header[i] == Column::Id    ? "1.5"
                          : header[i] == Column::Price ? "1e999"
                                                       : nullptr;
        if (bad != nullptr && (!spoilt || in.ConsumeBool())) {
          record.cells[i].field = bad;
          spoilt = true;
        }
      }
      return spoilt;
    }
    case Fault::ExtraField:
      record.cells.push_back(Cell{.field = "extra", .present = true});
      return true;
    case Fault::MissingRequired:
      if (header.size() == 1) return false;  // a record of one empty field is a blank line
      record.cells[code].field = "";
      return true;
    case Fault::StrayQuote:
      record.cells[code].field = "ab\"cd";
      return true;
    case Fault::None:
      break;
  }
  return false;
}

void RunGenerated(World& world, FuzzedDataProvider& in, char delimiter) {
  Generator gen(in, delimiter);
  // The header: code always (NOT NULL, no default), the rest as chosen.
  std::vector<Column> header = {Column::Code};
  for (Column c : {Column::Id, Column::Qty, Column::Price, Column::Flag, Column::Born, Column::Note})
    if (in.ConsumeBool())
      header.insert(header.begin() + in.ConsumeIntegralInRange<std::size_t>(0, header.size()), c);
  const bool crlf = in.ConsumeBool();
  const std::string eol = crlf ? "\r\n" : "\n";
  std::string file = in.ConsumeIntegralInRange(0, 3) == 0 ? "\xEF\xBB\xBF" : "";
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (i) file += delimiter;
    std::string name = kNames[static_cast<int>(header[i])];
    if (in.ConsumeIntegralInRange(0, 4) == 0) name[0] = static_cast<char>(name[0] - 'a' + 'A');
    file += name;
  }
  file += eol;
  int line = 2;

  const int records = in.ConsumeIntegralInRange(0, 30);
  const Fault fault = records == 0 || in.ConsumeIntegralInRange(0, 2) != 0
                          ? Fault::None
                          : static_cast<Fault>(in.ConsumeIntegralInRange(1, 5));
  const int faulty = records == 0 ? -1 : in.ConsumeIntegralInRange(0, records - 1);
  std::vector<Record> written;
  std::vector<std::string> codes;
  bool faultPlaced = false;
  for (int r = 0; r < records; ++r) {
    // Blank lines are skipped, but counted. (An exhausted input reads as
    // zeros, so the number is bounded.)
    for (int blank = in.ConsumeIntegralInRange(0, 12) - 10; blank > 0; --blank) {
      file += eol;
      ++line;
    }
    Record record;
    record.line = line;
    const bool isFaulty = fault != Fault::None && r == faulty;
    for (Column c : header) record.cells.push_back(gen.Make(c, r, !isFaulty));
    if (isFaulty) faultPlaced = Spoil(record, header, fault, codes, gen, in);
    for (std::size_t i = 0; i < record.cells.size(); ++i) {
      if (i) file += delimiter;
      file += record.cells[i].field;
      for (char ch : record.cells[i].field)
        if (ch == '\n') ++line;
    }
    for (std::size_t i = 0; i < header.size(); ++i)
      if (header[i] == Column::Code) codes.push_back(record.cells[i].text);
    if (r + 1 < records || in.ConsumeBool()) {
      file += eol;
      ++line;
    }
    written.push_back(std::move(record));
  }

  WriteFile(world.csv, file);
  const Loaded loaded = Load(world, "items", delimiter);
  CheckAllOrNothing(world, "items", loaded);
  const std::string where = "\n--- file ---\n" + file + "\n------------";

  Tessel::Fuzz::Tally(std::string("generated, ") + (faultPlaced ? "with a fault, " : "valid, ") +
                      (loaded.summary ? "loaded" : "failed"));
  if (faultPlaced) {
    Check(loaded.csvError.has_value(),
          "a file with a fault on line " + std::to_string(written[faulty].line) +
              " did not fail with a CsvLoadError: " + (loaded.summary ? "it loaded" : loaded.error) + where);
    Check(loaded.csvError->Line() == static_cast<std::uint64_t>(written[faulty].line),
          "the fault is on line " + std::to_string(written[faulty].line) +
              ", the error says: " + loaded.error + where);
    return;
  }
  Check(loaded.summary.has_value(), "a valid file did not load: " + loaded.error + where);
  Check(loaded.summary->rows == written.size(), "the summary counts " + std::to_string(loaded.summary->rows) +
                                                    " rows of " + std::to_string(written.size()) + where);

  sqlite3_stmt* stmt = world.checker.Prepare(
      "SELECT id, code, qty, price, flag, julianday(born), note, typeof(note), typeof(price), typeof(born), "
      "typeof(flag) FROM items ORDER BY rowid");
  for (const Record& record : written) {
    Check(sqlite3_step(stmt) == SQLITE_ROW, "fewer rows than records" + where);
    const std::string at = "the record on line " + std::to_string(record.line) + ": ";
    for (std::size_t i = 0; i < header.size(); ++i) {
      const Cell& cell = record.cells[i];
      const int c = static_cast<int>(header[i]);
      const auto text = [&](int k) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, k));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt, k)))
                 : std::string("NULL");
      };
      const std::string name = kNames[c];
      switch (cell.kind) {
        case Cell::Null:
          Check(sqlite3_column_type(stmt, c) == SQLITE_NULL,
                at + name + " should be null, reads " + text(c) + where);
          break;
        case Cell::Integer:
          Check(
              sqlite3_column_type(stmt, c) == SQLITE_INTEGER && sqlite3_column_int64(stmt, c) == cell.integer,
              at + name + " should be " + std::to_string(cell.integer) + ", reads " + text(c) + where);
          break;
        case Cell::Real:
          Check(sqlite3_column_type(stmt, c) != SQLITE_NULL && sqlite3_column_type(stmt, c) != SQLITE_TEXT &&
                    sqlite3_column_double(stmt, c) == cell.real,
                at + name + " should be " + cell.field + ", reads " + text(c) + where);
          break;
        case Cell::Text:
          Check(sqlite3_column_type(stmt, c) == SQLITE_TEXT && text(c) == cell.text,
                at + name + " should be '" + cell.text + "', reads '" + text(c) + "'" + where);
          break;
        case Cell::Julian: {
          const double julian = sqlite3_column_double(stmt, 5);
          Check(sqlite3_column_type(stmt, 5) != SQLITE_NULL &&
                    std::fabs(julian - cell.real) * 86400000.0 <= 1.0,
                at + "born " + cell.field + " reads julian day " + std::to_string(julian) + where);
          break;
        }
      }
    }
  }
  Check(sqlite3_step(stmt) == SQLITE_DONE, "more rows than records" + where);
  sqlite3_finalize(stmt);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  World& world = TheWorld();
  world.Reset("DELETE FROM items; DELETE FROM pairs");
  if (size == 0) return 0;
  static constexpr char kDelimiters[] = {',', ';', '\t', '|'};
  const std::uint8_t mode = data[0];
  const char delimiter = kDelimiters[(mode >> 1) & 3];
  if (mode & 1) {
    const std::string table = (mode & 8) ? "pairs" : "items";
    WriteFile(world.csv, std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    const Loaded loaded = Load(world, table, delimiter);
    Tessel::Fuzz::Tally(std::string("raw, ") +
                        (loaded.summary ? "loaded " + std::string(loaded.summary->rows ? "rows" : "no rows")
                         : loaded.csvError ? "CsvLoadError"
                                           : "other error"));
    CheckAllOrNothing(world, table, loaded);
    return 0;
  }
  FuzzedDataProvider in(data + 1, size - 1);
  RunGenerated(world, in, delimiter);
  return 0;
}
