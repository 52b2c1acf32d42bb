#include "tessel/ShapeCache.h"

namespace Tessel {

std::shared_ptr<Data::DataTable> ShapeCache::Get(const std::string& name, const Reader& read) {
  auto it = shapes_.find(name);
  if (it == shapes_.end()) {
    std::shared_ptr<Data::DataTable> shape = read();
    if (!shape) return nullptr;
    it = shapes_.emplace(name, std::move(shape)).first;
  }
  auto table = it->second->CloneShape();
  table->SetTableName(name);
  return table;
}

void ShapeCache::Revalidate(std::int64_t version) {
  if (version_ != version) Clear();
  version_ = version;
}

void ShapeCache::Clear() noexcept {
  version_.reset();
  shapes_.clear();
}

}  // namespace Tessel
