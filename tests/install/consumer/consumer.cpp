// A tiny native caller built against the installed tree: it loads the
// embedded default on an in-memory database, tests it, and reads the
// connection string and message back.
#include <TesselWrapper/TesselWrapper.h>

#include <cstdio>
#include <string>

int main() {
  IConnectWrapper* db = IConnectWrapper::CreateInstance();
  int status = 0;
  try {
    db->LoadObject("sqlite::memory:", "");
    if (!db->Test()) {
      std::fprintf(stderr, "Test failed: %s\n", db->GetMessage().c_str());
      status = 1;
    }
    db->SetMessage("hello");
    if (db->GetMessage() != "hello" || db->GetConnectionString() != "sqlite::memory:") {
      std::fprintf(stderr, "message or connection string did not round-trip\n");
      status = 1;
    }
  } catch (const Tessel::Error& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    status = 1;
  }
  IConnectWrapper::Destroy(db);
  return status;
}
