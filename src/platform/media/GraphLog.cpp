#include "platform/media/GraphLog.h"

#include <QDateTime>

#include "platform/media/GstRef.h"
#include "platform/runtime/Error.h"

namespace platform {

namespace {

std::string SourceName(GstMessage* message) {
  return GST_MESSAGE_SRC(message) ? GST_MESSAGE_SRC_NAME(message) : "(unknown)";
}

std::string Problem(const char* kind, GstMessage* message, GError* raw, gchar* rawDebug) {
  GErrorPtr error(raw);
  GCharPtr debug(rawDebug);
  std::string line = FormatMessage("%s %s: %s", kind, SourceName(message).c_str(),
                                   error && error->message ? error->message : "");
  if (debug)
    line += FormatMessage(" (%s)", debug.get());
  return line;
}

}  // namespace

bool GraphLog::Open(const std::string& fileName) {
  Close();
  file_.reset(std::fopen(fileName.c_str(), "w"));
  return IsOpen();
}

void GraphLog::Close() noexcept {
  file_.reset();
}

void GraphLog::Record(GstMessage* message, GstElement* pipeline) noexcept {
  if (!IsOpen())
    return;
  try {
    GError* error = nullptr;
    gchar* debug = nullptr;
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_ERROR:
        gst_message_parse_error(message, &error, &debug);
        WriteLine(Problem("ERROR", message, error, debug));
        break;
      case GST_MESSAGE_WARNING:
        gst_message_parse_warning(message, &error, &debug);
        WriteLine(Problem("WARNING", message, error, debug));
        break;
      case GST_MESSAGE_STATE_CHANGED: {
        if (GST_MESSAGE_SRC(message) != GST_OBJECT(pipeline))
          break;
        GstState from, to, pending;
        gst_message_parse_state_changed(message, &from, &to, &pending);
        std::string line =
            FormatMessage("STATE %s: %s -> %s", SourceName(message).c_str(),
                          gst_element_state_get_name(from), gst_element_state_get_name(to));
        if (pending != GST_STATE_VOID_PENDING) {
          line += FormatMessage(" (going to %s)", gst_element_state_get_name(pending));
        }
        WriteLine(line);
        break;
      }
      default:
        break;
    }
  } catch (...) {
    // A log line that cannot be formatted is not worth an error.
  }
}

void GraphLog::Note(const std::string& text) noexcept {
  WriteLine(text);
}

void GraphLog::WriteLine(const std::string& text) noexcept {
  if (!IsOpen())
    return;
  try {
    const std::string stamp = QDateTime::currentDateTime()
                                  .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"))
                                  .toStdString();
    std::fprintf(file_.get(), "%s %s\n", stamp.c_str(), text.c_str());
    // A log is read while the program runs, or after it crashed.
    std::fflush(file_.get());
  } catch (...) {
  }
}

}  // namespace platform
