// What the window says about the stored connections: a save that fails, the
// recovery, a damaged file set aside, a file that cannot be opened.
#include "apps/remote/src/app/remote_app.hpp"
#include "apps/remote/src/doc/text.hpp"

namespace remote::app {

void RemoteApp::storage_report(const vesk_ui::widget::StorageReport& report) {
  using Kind = vesk_ui::widget::StorageReport::Kind;
  state_.redraw = true;
  switch (report.kind) {
    case Kind::SaveFailed:
      state_.storage_problem = remote::text::fill(notice::kNotSaved, {report.reason});
      state_.notice = state_.storage_problem;
      break;
    case Kind::Unreadable:
      state_.storage_problem = remote::text::fill(notice::kUnreadable, {report.reason});
      state_.notice = state_.storage_problem;
      break;
    case Kind::SavedAgain:
      state_.storage_problem.reset();
      state_.notice = notice::kSavedAgain;
      break;
    case Kind::SetAside: state_.notice = remote::text::fill(notice::kSetAside, {report.reason, report.kept_as}); break;
  }
}

void RemoteApp::keep_storage_notice(const std::optional<std::string>& notice_before) {
  if (!state_.storage_problem || state_.confirmation) return;
  if (!state_.notice || state_.notice == notice_before) state_.notice = state_.storage_problem;
}

}  // namespace remote::app
