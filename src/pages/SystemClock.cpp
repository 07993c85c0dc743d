#include "SystemClock.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QList>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "TextUtil.h"

namespace {

const char kService[] = "org.freedesktop.timedate1";
const char kPath[] = "/org/freedesktop/timedate1";
const char kInterface[] = "org.freedesktop.timedate1";

// The user may take a while to answer the authorisation dialog.
constexpr int kCallTimeoutMs = 120000;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

CSystemClock::TStatus CSystemClock::ClassifyBusError(const std::string& errorName) {
    if (errorName == "org.freedesktop.timedate1.AutomaticTimeSyncEnabled") return AUTOMATIC_SYNC;
    if (errorName == "org.freedesktop.DBus.Error.AccessDenied" ||
        errorName == "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired" ||
        StartsWith(errorName, "org.freedesktop.PolicyKit1.Error."))
        return NOT_PERMITTED;
    return FAILED;
}

bool CSystemClock::IsServiceMissing(const std::string& errorName) {
    return errorName == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           errorName == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
           errorName == "org.freedesktop.DBus.Error.UnknownMethod" ||
           errorName == "org.freedesktop.DBus.Error.UnknownObject" ||
           errorName == "org.freedesktop.DBus.Error.UnknownInterface" ||
           errorName == "org.freedesktop.DBus.Error.NotSupported" ||
           errorName == "org.freedesktop.DBus.Error.Disconnected" ||
           StartsWith(errorName, "org.freedesktop.DBus.Error.Spawn.") ||
           StartsWith(errorName, "org.freedesktop.systemd1.");
}

bool CSystemClock::SetThroughTimedated(std::time_t utc, TResult& result) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return false;

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("SetTime"));
    // Microseconds since the epoch, absolute, and the user may be asked.
    call << QVariant::fromValue(static_cast<qlonglong>(utc) * 1000000LL) << QVariant(false) << QVariant(true);
    call.setInteractiveAuthorizationAllowed(true);
    // Blocking without dispatching: nothing in the window may run while the
    // clock is being set. The authorisation dialog is another process.
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        result = TResult{SET, std::string()};
        return true;
    }
    const std::string name = reply.errorName().toStdString();
    if (IsServiceMissing(name)) return false;
    result = TResult{ClassifyBusError(name), FirstLine(reply.errorMessage().toStdString())};
    return true;
}

CSystemClock::TResult CSystemClock::SetDirectly(std::time_t utc) {
    timespec ts{};
    ts.tv_sec = utc;
    if (::clock_settime(CLOCK_REALTIME, &ts) == 0) return TResult{SET, std::string()};
    const int error = errno;
    return TResult{error == EPERM ? NOT_PERMITTED : FAILED, std::strerror(error)};
}

CSystemClock::TResult CSystemClock::SetUtc(std::time_t utc) {
    TResult result;
    if (SetThroughTimedated(utc, result)) return result;
    return SetDirectly(utc);
}

std::string CSystemClock::DescribeFailure(const TResult& result) {
    const std::string lead = "The PC clock was not set: ";
    switch (result.m_status) {
    case SET:
        return std::string();
    case AUTOMATIC_SYNC:
        return lead + "automatic time synchronisation is on.";
    case NOT_PERMITTED:
        return lead + "not permitted to change the system time.";
    case FAILED:
        break;
    }
    return lead + (result.m_detail.empty() ? std::string("the system refused the time.") : result.m_detail);
}
