// What the window says about the stored connections: a save that fails, the
// recovery, a damaged file set aside, a file that cannot be opened.
#include "apps/remote/src/app/remote_app.hpp"

namespace remote::app {

namespace {

// The pattern with its "{}" replaced by the texts, in order.
std::string fill_in(std::string_view pattern, std::initializer_list<std::string_view> texts) {
  std::string out;
  auto next = texts.begin();
  for (std::size_t at = 0; at < pattern.size();) {
    const std::size_t hole = pattern.find("{}", at);
    if (hole == std::string_view::npos || next == texts.end()) {
      out.append(pattern.substr(at));
      break;
    }
    out.append(pattern.substr(at, hole - at));
    out.append(*next++);
    at = hole + 2;
  }
  return out;
}

}  // namespace

void RemoteApp::storage_report(const vesk_ui::widget::StorageReport& report) {
  using Kind = vesk_ui::widget::StorageReport::Kind;
  state_.redraw = true;
  switch (report.kind) {
    case Kind::SaveFailed:
      state_.storage_problem = fill_in(notice::kNotSaved, {report.reason});
      state_.notice = state_.storage_problem;
      break;
    case Kind::Unreadable:
      state_.storage_problem = fill_in(notice::kUnreadable, {report.reason});
      state_.notice = state_.storage_problem;
      break;
    case Kind::SavedAgain:
      state_.storage_problem.reset();
      state_.notice = notice::kSavedAgain;
      break;
    case Kind::SetAside: state_.notice = fill_in(notice::kSetAside, {report.reason, report.kept_as}); break;
  }
}

void RemoteApp::keep_storage_notice(const std::optional<std::string>& notice_before) {
  if (!state_.storage_problem || state_.confirmation) return;
  if (!state_.notice || state_.notice == notice_before) state_.notice = state_.storage_problem;
}

}  // namespace remote::app
