// The table shapes a component has read, kept by the name they were asked
// for, so that GetTable reads the catalogue once per table rather than once
// per call. Every Get gives a fresh empty table (CloneShape) named exactly as
// asked; the cached shape itself never leaves.
//
// A backend that can tell when its schema changed (SQLite's schema cookie)
// passes that version to Revalidate before each Get: whenever it moves,
// everything is forgotten. Every backend forgets a table whose write found
// its shape changed (Forget) and everything after a script (Clear).
//
// Not thread-safe, like the component that owns it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "TesselWrapper/data/DataTable.h"

namespace Tessel {

class ShapeCache {
 public:
  // Reads the shape of the table `name` picks, named `name`; nullptr when
  // there is no such table (which is not remembered).
  using Reader = std::function<std::shared_ptr<Data::DataTable>()>;

  // A fresh empty table shaped like the cached one, or like what `read`
  // gives (then cached); nullptr when `read` finds no table. Errors of `read`
  // pass through, and nothing is cached.
  std::shared_ptr<Data::DataTable> Get(const std::string& name, const Reader& read);

  void Revalidate(std::int64_t version);
  void Forget(const std::string& name) { shapes_.erase(name); }
  void Clear() noexcept;

 private:
  std::optional<std::int64_t> version_;
  std::map<std::string, std::shared_ptr<Data::DataTable>, std::less<>> shapes_;
};

}  // namespace Tessel
