// What the window says about the stored connections, as the framework reports
// it: the notice in the state and in the painted display list, how it stays
// while saving fails and gives way once when saving works again.
#include <gtest/gtest.h>

#include <memory>

#include "platform/vesk_ui/headless/headless_host.hpp"
#include "tests/apps/remote/app/app_test_util.hpp"
#include "tests/apps/remote/app/headless_util.hpp"

namespace {

using namespace apptest;
using vesk_ui::widget::StorageReport;
using Kind = StorageReport::Kind;

const std::string kFull =
    "Could not save the connections: write /d/.document.vdoc.1: No space left on device. Your changes are kept in "
    "this window and saving is retried.";
const std::string kOpen =
    "The saved connections could not be opened (Permission denied); nothing is saved until this is fixed.";
const std::string kAgain = "The connections are saved again.";
const std::string kKept =
    "The saved connections could not be read (document checksum does not match (damaged file)); the damaged file was "
    "kept as /d/document.vdoc.unreadable-20261210T101010Z.";

struct Step {
  const char* what;
  std::optional<StorageReport> report;  // or a message to the reducer
  std::optional<UiMessage> message;
  std::optional<std::string> notice;  // what the window shows afterwards
};

class StorageNotice : public ::testing::Test {
 protected:
  void run(const std::vector<Step>& steps) {
    auto host = host_for(RemoteApp::with_sample_data());
    RemoteApp& app = host->widget_as<RemoteApp>();
    const Uuid first = app.state().connections.front().id;
    for (const Step& step : steps) {
      SCOPED_TRACE(step.what);
      if (step.report) app.storage_report(*step.report);
      if (step.message) {
        UiMessage m = *step.message;
        if (m.id() && m.id()->is_nil())
          m = m.tag == UiMessage::Tag::RequestDelete ? UiMessage::request_delete(first)
                                                     : UiMessage::select_connection(first);
        app.apply_message(m, host->document());
      }
      EXPECT_EQ(app.state().notice, step.notice);
      const std::string painted = host->paint().dump();
      if (step.notice) {
        EXPECT_NE(painted.find("\"" + *step.notice + "\""), std::string::npos) << painted.substr(0, 3000);
      }
      for (const std::string* other : {&kFull, &kOpen, &kAgain, &kKept}) {
        if (!step.notice || *other != *step.notice) {
          EXPECT_EQ(painted.find(*other), std::string::npos) << *other;
        }
      }
    }
  }
};

const UiMessage kSelect = UiMessage::select_connection(Uuid{});
const UiMessage kDelete = UiMessage::request_delete(Uuid{});

TEST_F(StorageNotice, AFailingSaveStaysInViewUntilASaveWorks) {
  run({
      {"a save fails", StorageReport{Kind::SaveFailed, "write /d/.document.vdoc.1: No space left on device", {}},
       std::nullopt, kFull},
      {"the user goes on", std::nullopt, kSelect, kFull},
      {"another notice has its turn", std::nullopt, UiMessage::cancel_confirmation(), std::string(notice::kCancelled)},
      {"and gives way at the next step", std::nullopt, kSelect, kFull},
      {"a dialog opens: no notice over it", std::nullopt, kDelete, std::nullopt},
      {"the dialog closes with its own notice", std::nullopt, UiMessage::cancel_confirmation(),
       std::string(notice::kCancelled)},
      {"a retry fails again: it comes back at once",
       StorageReport{Kind::SaveFailed, "write /d/.document.vdoc.1: No space left on device", {}}, std::nullopt, kFull},
      {"saving works again", StorageReport{Kind::SavedAgain, {}, {}}, std::nullopt, kAgain},
      {"said once: it is an ordinary notice now", std::nullopt, kSelect, kAgain},
      {"and gives way like one", std::nullopt, UiMessage::cancel_confirmation(), std::string(notice::kCancelled)},
      {"nothing comes back", std::nullopt, kSelect, std::string(notice::kCancelled)},
  });
}

TEST_F(StorageNotice, AnUnreadableFileAndADamagedOne) {
  run({
      {"the file cannot be opened", StorageReport{Kind::Unreadable, "Permission denied", {}}, std::nullopt, kOpen},
      {"it stays", std::nullopt, UiMessage::cancel_confirmation(), std::string(notice::kCancelled)},
      {"back at the next step", std::nullopt, kSelect, kOpen},
      {"fixed and stored", StorageReport{Kind::SavedAgain, {}, {}}, std::nullopt, kAgain},
  });
  run({
      {"a damaged file was set aside",
       StorageReport{Kind::SetAside, "document checksum does not match (damaged file)",
                     "/d/document.vdoc.unreadable-20261210T101010Z"},
       std::nullopt, kKept},
      {"an ordinary notice: it stays until replaced", std::nullopt, kSelect, kKept},
      {"replaced, it does not come back", std::nullopt, UiMessage::cancel_confirmation(),
       std::string(notice::kCancelled)},
      {"still gone", std::nullopt, kSelect, std::string(notice::kCancelled)},
  });
}

TEST_F(StorageNotice, AClientsUnstoredChangeHasTheApplicationsCode) {
  EXPECT_EQ(RemoteApp::empty()->unsaved_change_code(), "remote.document_not_saved");
}

}  // namespace
