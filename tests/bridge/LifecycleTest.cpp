// The bridge object's handle semantics and the pass-through operations.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "bridge/BridgeFixture.h"
#include "support/RecordQueue.h"

namespace Tessel::Testing {
namespace {

// Loads a fresh scripted component whose connection string names it, so that
// GetConnectionString tells which component a bridge refers to.
std::weak_ptr<ScriptedConnect> Load(IConnectWrapper& bridge, const std::string& name) {
  RegisterScriptedProvider();
  bridge.LoadObject("script:" + name, "");
  return ScriptedConnect::LastCreatedWeak();
}

bool IsUnloaded(ConnectWrapper& bridge) {
  try {
    bridge.GetConnectionString();
    return false;
  } catch (const MissingComponentError&) {
    return true;
  }
}

TEST(BridgeLifecycle, CopiesAndMovesShareTheComponentAndKeepTheirSource) {
  ConnectWrapper source;
  Load(source, "first");
  ConnectWrapper copied(source);
  ConnectWrapper moved(std::move(source));

  EXPECT_EQ(source.GetConnectionString(), "script:first");  // NOLINT: a move keeps its source
  EXPECT_EQ(copied.GetConnectionString(), "script:first");
  EXPECT_EQ(moved.GetConnectionString(), "script:first");
  copied.SetMessage("set through the copy");
  EXPECT_EQ(source.GetMessage(), "set through the copy");

  // A later LoadObject re-points only the source's own handle.
  Load(source, "second");
  EXPECT_EQ(source.GetConnectionString(), "script:second");
  EXPECT_EQ(copied.GetConnectionString(), "script:first");
  EXPECT_EQ(moved.GetConnectionString(), "script:first");
}

TEST(BridgeLifecycle, AssignmentRepointsTheDestination) {
  ConnectWrapper loaded;
  Load(loaded, "loaded");
  ConnectWrapper unloaded;

  ConnectWrapper destination;
  Load(destination, "destination");
  destination = unloaded;
  EXPECT_TRUE(IsUnloaded(destination));
  destination = loaded;
  EXPECT_EQ(destination.GetConnectionString(), "script:loaded");

  ConnectWrapper moveDestination;
  moveDestination = std::move(loaded);
  EXPECT_EQ(moveDestination.GetConnectionString(), "script:loaded");
  EXPECT_EQ(loaded.GetConnectionString(), "script:loaded");  // NOLINT: a move keeps its source

  ConnectWrapper& alias = loaded;
  loaded = alias;
  loaded = std::move(alias);
  EXPECT_EQ(loaded.GetConnectionString(), "script:loaded");
}

TEST(BridgeLifecycle, TheComponentLivesWhileSomeBridgeHoldsIt) {
  IConnectWrapper* first = IConnectWrapper::CreateInstance();
  const std::weak_ptr<ScriptedConnect> component = Load(*first, "held");
  ConnectWrapper* second = new ConnectWrapper(*static_cast<ConnectWrapper*>(first));
  ASSERT_FALSE(component.expired());

  IConnectWrapper::Destroy(first);
  EXPECT_FALSE(component.expired()) << "the copy still holds the component";
  IConnectWrapper::Destroy(second);
  EXPECT_TRUE(component.expired()) << "no bridge holds the component any more";

  IConnectWrapper::Destroy(nullptr);
}

TEST(BridgeLifecycle, LoadObjectReplacesTheComponentAndDropsTheOldOne) {
  ConnectWrapper bridge;
  const std::weak_ptr<ScriptedConnect> first = Load(bridge, "first");
  const std::weak_ptr<ScriptedConnect> second = Load(bridge, "second");
  EXPECT_TRUE(first.expired());
  EXPECT_FALSE(second.expired());
  EXPECT_EQ(bridge.GetConnectionString(), "script:second");
}

TEST(BridgeLifecycle, LoadObjectChangesTheHandleOnlyWhenTheFactoryReturns) {
  DbConnectFactory::RegisterProvider(
      "failing", [](const std::string& connect, const std::string&) -> std::shared_ptr<DbConnect> {
        throw ArgumentError("no component for '" + connect + "'");
      });
  DbConnectFactory::RegisterProvider(
      "nothing", [](const std::string&, const std::string&) { return std::shared_ptr<DbConnect>(); });

  ConnectWrapper bridge;
  Load(bridge, "kept");
  EXPECT_THROW(bridge.LoadObject("failing:x", ""), ArgumentError);
  EXPECT_EQ(bridge.GetConnectionString(), "script:kept");

  bridge.LoadObject("nothing:x", "");
  EXPECT_TRUE(IsUnloaded(bridge));

  DbConnectFactory::UnregisterProvider("failing");
  DbConnectFactory::UnregisterProvider("nothing");
}

TEST(BridgeLifecycle, UnknownConnectionFormsAndUnusableSchemesAreRefused) {
  const auto provider = [](const std::string&, const std::string&) { return std::shared_ptr<DbConnect>(); };
  for (const char* scheme : {"", "bad:scheme", "two words", "caf\xC3\xA9"}) {
    EXPECT_THROW(DbConnectFactory::RegisterProvider(scheme, provider), ArgumentError) << scheme;
  }

  ConnectWrapper bridge;
  RegisterScriptedProvider();
  for (const char* connect : {"nonsense", "Script:x", "mysql://host/db", "Data Source=x.db"}) {
    try {
      bridge.LoadObject(connect, "");
      ADD_FAILURE() << connect << " was accepted";
    } catch (const ArgumentError& e) {
      EXPECT_NE(std::string(e.what()).find(connect), std::string::npos) << e.what();
    }
  }
  EXPECT_TRUE(IsUnloaded(bridge));
}

TEST(BridgeLifecycle, LoadObjectHandsBothArgumentsToTheFactoryInOrder) {
  ConnectWrapper bridge;
  RegisterScriptedProvider();
  bridge.LoadObject(std::string("script:db\0ignored", 17), "tables");
  const auto component = ScriptedConnect::LastCreated();
  ASSERT_NE(component, nullptr);
  EXPECT_EQ(component->Connect(), "script:db");
  EXPECT_EQ(component->TableSet(), "tables");
}

TEST(BridgeLifecycle, EveryOperationOnAnUnloadedBridgeThrowsMissingComponent) {
  ConnectWrapper bridge;
  RecordQueue queue;
  SqlRow* record = queue.Add();
  record->AddLongField("id", 1);
  long time = 0;
  int stored = 0;
  int written = 0;
  std::string output = "kept";

  const std::vector<std::pair<const char*, std::function<void()>>> operations = {
      {"Test", [&] { bridge.Test(); }},
      {"SetMessage", [&] { bridge.SetMessage("m"); }},
      {"GetMessage", [&] { bridge.GetMessage(); }},
      {"SetConnectionString", [&] { bridge.SetConnectionString("c"); }},
      {"GetConnectionString", [&] { bridge.GetConnectionString(); }},
      {"BulkExample", [&] { bridge.BulkExample(1); }},
      {"BulkToTable", [&] { bridge.BulkToTable("T", &queue.records, &time); }},
      {"ExecuteStoredProcedure", [&] { bridge.ExecuteStoredProcedure("p", {}, &output); }},
      {"GetMaxSolnIdCaseId", [&] { bridge.GetMaxSolnIdCaseId("dir"); }},
      {"StartNewRow", [&] { bridge.StartNewRow("T", &stored, &written, &time); }},
      {"AddCurRow", [&] { bridge.AddCurRow(); }},
      {"AddFieldData(text)", [&] { bridge.AddFieldData("f", "v"); }},
      {"AddFieldData(int)", [&] { bridge.AddFieldData("f", 1); }},
      {"AddFieldData(long)", [&] { bridge.AddFieldData("f", 1L); }},
      {"AddFieldData(double)", [&] { bridge.AddFieldData("f", 1.0); }},
      {"AddFieldDateTimeData", [&] { bridge.AddFieldDateTimeData("f", 1.0); }},
  };
  for (const auto& [name, operation] : operations) {
    EXPECT_THROW(operation(), MissingComponentError) << name;
  }
  ASSERT_EQ(queue.records.size(), 1u);
  EXPECT_EQ(queue.records.front(), record);
  EXPECT_EQ(output, "kept");
}

class PassThroughTest : public BridgeTest {};

TEST_F(PassThroughTest, BulkExampleKeepsTheLow32BitsOfTheComponentsFigure) {
  const struct {
    std::int64_t fromComponent;
    long expected;
  } cases[] = {
      {(std::int64_t{1} << 32) + 5, 5},
      {std::int64_t{1} << 31, long{std::numeric_limits<std::int32_t>::min()}},
      {-1, -1},
      {1234567, 1234567},
      {-(std::int64_t{1} << 32) + 3, 3},
  };
  for (const auto& c : cases) {
    component->ScriptBulkExample(c.fromComponent);
    EXPECT_EQ(bridge.BulkExample(-7), c.expected) << c.fromComponent;
  }
  EXPECT_EQ(component->BulkExampleRequests().back(), -7);
}

TEST_F(PassThroughTest, TestPassesTheComponentsAnswerAndItsErrors) {
  component->ScriptTest(false);
  EXPECT_FALSE(bridge.Test());
  component->ScriptTest(true);
  EXPECT_TRUE(bridge.Test());
  component->FailNext(Op::Test, DatabaseError("unreachable", 14));
  EXPECT_THROW(bridge.Test(), DatabaseError);
}

TEST_F(PassThroughTest, TextEndsAtItsFirstNulOnTheWayIn) {
  bridge.SetMessage(std::string("A\0B", 3));
  EXPECT_EQ(component->Message(), ManagedText("A"));
  EXPECT_EQ(bridge.GetMessage(), "A");

  bridge.SetConnectionString(std::string("script:x\0y", 10));
  EXPECT_EQ(bridge.GetConnectionString(), "script:x");
}

TEST_F(PassThroughTest, TextRoundTripsUnchanged) {
  for (const std::string text : {"", "plain", "caf\xC3\xA9 \xE2\x82\xAC", "a;b=c"}) {
    bridge.SetConnectionString(text);
    EXPECT_EQ(bridge.GetConnectionString(), text);
    bridge.SetMessage(text);
    EXPECT_EQ(bridge.GetMessage(), text);
  }
}

TEST_F(PassThroughTest, AbsentComponentTextReadsAsEmpty) {
  component->SetMessage(std::nullopt);
  component->SetConnectionString(std::nullopt);
  EXPECT_EQ(bridge.GetMessage(), "");
  EXPECT_EQ(bridge.GetConnectionString(), "");
}

}  // namespace
}  // namespace Tessel::Testing
