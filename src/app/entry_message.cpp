#include "entry_message.h"

#include <QCoreApplication>
#include <cerrno>
#include <string_view>

#include "forms.h"
#include "mp3_source.h"
#include "named_stream.h"
#include "stream.h"

namespace plumo {

namespace {

constexpr const char* kContext = "plumo::TPlatform";

// The plain reasons for the network's failures, by a phrase of the stream's text (curl's own
// words, or the HTTP status the stream puts in); the first phrase found wins.
struct TNetworkReason {
  std::string_view Phrase;
  const char* Reason;
};
const TNetworkReason kNetworkReasons[] = {
    {"sends AAC audio", QT_TRANSLATE_NOOP("plumo::TPlatform", "AAC の放送は再生できません")},
    {"is an HLS playlist", QT_TRANSLATE_NOOP("plumo::TPlatform", "HLS の放送は再生できません")},
    {"from https to http", QT_TRANSLATE_NOOP("plumo::TPlatform", "安全でない転送先は拒否されました")},
    {"names no station", QT_TRANSLATE_NOOP("plumo::TPlatform", "プレイリストに放送局がありません")},
    {"no MPEG audio in the stream", QT_TRANSLATE_NOOP("plumo::TPlatform", "MPEG オーディオではありません")},
    {"HTTP 404", QT_TRANSLATE_NOOP("plumo::TPlatform", "サーバーに見つかりません")},
    {"HTTP 410", QT_TRANSLATE_NOOP("plumo::TPlatform", "サーバーに見つかりません")},
    {"HTTP ", QT_TRANSLATE_NOOP("plumo::TPlatform", "サーバーに拒否されました")},
    {"certificate", QT_TRANSLATE_NOOP("plumo::TPlatform", "証明書が信頼されていません")},
    {"imed out", QT_TRANSLATE_NOOP("plumo::TPlatform", "タイムアウトしました")},
    {"Timeout", QT_TRANSLATE_NOOP("plumo::TPlatform", "タイムアウトしました")},
    {"no data for", QT_TRANSLATE_NOOP("plumo::TPlatform", "タイムアウトしました")},
    {"resolve", QT_TRANSLATE_NOOP("plumo::TPlatform", "接続できません")},
    {"connect", QT_TRANSLATE_NOOP("plumo::TPlatform", "接続できません")},
    {"Connection refused", QT_TRANSLATE_NOOP("plumo::TPlatform", "接続できません")},
};

std::string Tr(const char* text) { return QCoreApplication::translate(kContext, text).toStdString(); }

bool IsAddress(const std::string& entry) { return entry.find("://") != std::string::npos; }

// The reason in plain words and whether the exception's own text follows as the detail.
std::string Reason(const std::string& entry, const std::exception_ptr& e, bool& detail) {
  detail = false;
  try {
    std::rethrow_exception(e);
  } catch (const EUnknownFormat&) {
    return Tr(QT_TRANSLATE_NOOP("plumo::TPlatform", "MPEG オーディオではありません"));
  } catch (const EFOpenError& x) {
    switch (x.Error()) {
      case ENOENT:
      case ENOTDIR:
        return Tr(QT_TRANSLATE_NOOP("plumo::TPlatform", "ファイルが見つかりません"));
      case EACCES:
      case EPERM:
        return Tr(QT_TRANSLATE_NOOP("plumo::TPlatform", "読み取りが許可されていません"));
      default:
        detail = true;
        return Tr(QT_TRANSLATE_NOOP("plumo::TPlatform", "開けません"));
    }
  } catch (const std::exception& x) {
    if (IsAddress(entry)) {
      const std::string_view text = x.what();
      for (const TNetworkReason& r : kNetworkReasons) {
        if (text.find(r.Phrase) != std::string_view::npos) {
          detail = true;
          return Tr(r.Reason);
        }
      }
    }
  } catch (...) {
  }
  return {};
}

}  // namespace

std::string EntryMessage(const std::string& entry, const std::exception_ptr& e) {
  const std::string shown = WithoutCredentials(entry);
  std::string text = ExceptionMessage(e);
  // The stream's texts begin with the address again, perhaps with the credentials.
  for (const std::string& name : {entry, shown}) {
    if (text.compare(0, name.size() + 2, name + ": ") == 0) {
      text.erase(0, name.size() + 2);
      break;
    }
  }
  if (shown != entry)
    for (size_t at = text.find(entry); at != std::string::npos; at = text.find(entry, at + shown.size()))
      text.replace(at, entry.size(), shown);
  bool detail = false;
  const std::string reason = Reason(entry, e, detail);
  if (reason.empty()) return shown + ": " + text;
  return shown + ": " + reason + (detail ? "\n(" + text + ")" : "");
}

}  // namespace plumo
