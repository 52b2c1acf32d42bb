// The bridge object's lifecycle and the operations that pass straight through
// to the component. The staging, queued-transfer and routine operations live
// in rows/ and procedures/.
#include "TesselWrapper/ConnectWrapper.h"

#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "TesselWrapper/data/Text.h"
#include "bridge/Int32Wire.h"

// The interface holds no state; its special members are defined here only so
// that the library exports them.
IConnectWrapper::IConnectWrapper() = default;
IConnectWrapper::IConnectWrapper(const IConnectWrapper&) = default;
IConnectWrapper::IConnectWrapper(IConnectWrapper&&) = default;
IConnectWrapper& IConnectWrapper::operator=(const IConnectWrapper&) = default;
IConnectWrapper& IConnectWrapper::operator=(IConnectWrapper&&) = default;

// The only state is the shared handle. Copies and moves share the component
// and never empty their source: two bridges made from one another keep
// working independently, and a later LoadObject on one re-points only its own
// handle.
ConnectWrapper::ConnectWrapper() = default;

ConnectWrapper::ConnectWrapper(const ConnectWrapper& other)
    : IConnectWrapper(other), component_(other.component_) {}

ConnectWrapper::ConnectWrapper(ConnectWrapper&& other)
    : IConnectWrapper(other), component_(other.component_) {}

ConnectWrapper& ConnectWrapper::operator=(const ConnectWrapper& other) {
  component_ = other.component_;  // harmless on self-assignment
  return *this;
}

ConnectWrapper& ConnectWrapper::operator=(ConnectWrapper&& other) {
  component_ = other.component_;
  return *this;
}

ConnectWrapper::~ConnectWrapper() = default;

IConnectWrapper* IConnectWrapper::CreateInstance() { return new ConnectWrapper(); }

void IConnectWrapper::Destroy(IConnectWrapper* instance) {
  // The interface has no virtual destructor (its virtual table is exactly the
  // seventeen operations), so the object is ended through the one class that
  // CreateInstance makes. That class's destructor is not virtual either, and
  // the compiler cannot know that nothing derives from it, hence the pragma.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
  delete static_cast<ConnectWrapper*>(instance);
#pragma GCC diagnostic pop
}

void ConnectWrapper::LoadObject(std::string Connect, std::string TypedTableSet) {
  // The handle is re-pointed only once the factory has returned: a factory
  // that throws leaves the bridge with what it had.
  std::shared_ptr<Tessel::DbConnect> created = Tessel::DbConnectFactory::CreateDbConnect(
      Tessel::Text::NativeToManaged(Connect), Tessel::Text::NativeToManaged(TypedTableSet));
  component_ = std::move(created);
}

bool ConnectWrapper::Test() { return Component().Test(); }

void ConnectWrapper::SetMessage(std::string message) {
  Tessel::DbConnect& component = Component();
  component.SetMessage(Tessel::Text::NativeToManaged(message));
}

std::string ConnectWrapper::GetMessage() { return Tessel::Text::ManagedToNative(Component().Message()); }

void ConnectWrapper::SetConnectionString(std::string ConnectionString) {
  Tessel::DbConnect& component = Component();
  component.SetConnectionString(Tessel::Text::NativeToManaged(ConnectionString));
}

std::string ConnectWrapper::GetConnectionString() {
  return Tessel::Text::ManagedToNative(Component().ConnectionString());
}

long ConnectWrapper::BulkExample(int iterations) {
  return Tessel::NarrowToLong32(Component().BulkExample(iterations));
}
