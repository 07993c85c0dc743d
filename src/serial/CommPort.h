// The one serial port the program talks to the clock through: open and
// configure, byte-block Read and Write, drain and purge, break, applying and
// reading back line settings, the profile switches, and the reader thread
// that hands unasked input to the Console page.
//
// In parts, each in its own files: the port itself (CommPort.cpp), its byte
// I/O and the reasons of its failures (PortIo.cpp), the line settings as a
// value (PortSettings.h), the port's profile and line settings with the
// constructors and destructor that read and store them (PortProfile.cpp), the
// port catalogue (PortCatalogue.h: names, the port list, virtual ports, open
// hints), the reader thread (ReaderThread.h), and the reporter the port tells
// of failures and state changes (PortReporter.h).
//
// Messages sent (synchronously, CMessageTarget::Send):
//   WM_COMMSTATUS (code, value) to the notify target:
//      0 open succeeded, 1 read n bytes, 2 wrote n bytes, 4 time-out,
//     -1 the port is or is being closed after a failure, or the device vanished.
//   WM_STATUSTEXT (string id, 0) to the notify target: line errors from Reset.
//   WM_COMMDATA (n, address of the bytes) to the ReadStart target, from the
//     reader thread; the bytes are only valid during the Send.
// The reporter hears of a failed open, of failures to show (when verbose,
// also from the reader thread), and of each successful open.
//
// Threads: everything runs on the user-interface thread except the reader
// thread (see ReaderThread.h). SetNotifyWnd and the line settings may
// change while the reader runs; it keeps what it started with.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "Dcb.h"
#include "LineTrace.h"
#include "PortSettings.h"
#include "ReaderThread.h"
#include "SerialDevice.h"

class CMessageTarget;
class CWin32Err;
class IPortReporter;

class CCommPort {
public:
    using DeviceFactory = SerialDeviceFactory;
    // ReadOnly, for tools that use the stored settings but must leave the
    // profile as it is (tarvelctl): nothing is opened at construction and
    // nothing stored at the end, and failures always go to the reporter;
    // open with Open, then ApplySettings with the stored settings.
    enum class TProfileUse { ReadAndStore, ReadOnly };
    // Where settings handed to ApplySettings come from: chosen by the user,
    // or stored in the profile (a refusal then names the profile's key).
    enum class TSettingsFrom { USER, PROFILE };
    // What FlushWrites does, combined with |.
    enum TFlushFlags : int {
        PURGE_INPUT = 1,   // discard what came in
        DRAIN_OUTPUT = 2,  // wait until the output left, then discard what did not
    };

    // Reads the profile and, when "AutoOpen" is on, opens the stored port.
    // reporter: told of failures and state changes, nullptr for nobody; it
    // must outlive the port. factory: the devices to open (termios when empty).
    CCommPort();
    explicit CCommPort(IPortReporter* reporter, DeviceFactory factory = {},
                       TProfileUse use = TProfileUse::ReadAndStore);
    // Stores the settings in the profile, closes the port, stops the reader.
    ~CCommPort();
    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    // False: the port is closed, the reporter has the failure (and, when
    // verbose, the text to show) and WM_COMMSTATUS -1 was sent.
    bool Open(const std::string& name);
    // Stops the reader, drains and purges, releases the device. Always true.
    bool Close();
    bool IsOpen() const;
    // Counts the successful opens: a change means another device, or the
    // same one opened again (0 before the first).
    unsigned OpenSerial() const { return m_openSerial; }
    // The open device hung up or failed, as far as a look can tell without
    // taking a byte or waiting: a hang-up or an error with no events asked
    // for (a tty whose device went, a network port whose connection ended).
    // False while it seems well, and on a closed port.
    bool IsHungUp() const;
    // Why the last Open failed, on one line for the user: the port tried, the
    // system's reason and what to do. Empty once an Open has succeeded.
    const std::string& GetOpenFailure() const { return m_openFailure; }
    // The system's code of the last reported failure (EBUSY for a port
    // another program holds); 0 for one the program found itself.
    int LastErrorCode() const { return m_lastError; }
    // nullptr: nobody is told.
    void SetNotifyWnd(CMessageTarget* target);

    // Takes what is queued, up to count bytes (with the time-outs set at open
    // it never waits); count always receives the number read. On a closed
    // port reports the failure and gives false.
    bool Read(unsigned char* buf, unsigned& count);
    // Waits at most ms for input (or a hang-up) and takes nothing: true as
    // soon as a Read would find something, so its caller knows to the
    // millisecond when it came. False on time-out, or on a closed port.
    bool WaitForInput(unsigned ms);
    // Waits at most the profile's "WriteTimeOut" ms for the line to take the
    // block; on time-out sends WM_COMMSTATUS 4 and gives false. Nothing of a
    // timed-out Read or Write completes later.
    bool Write(const unsigned char* buf, unsigned count);
    // flags: TFlushFlags.
    bool FlushWrites(int flags);
    // Break set, held BreakHoldMs at the line's settings, then cleared. A
    // device that refuses is reported; a closed port gives false without a
    // report.
    bool SendBreak();
    // How long a break is held on a line: two characters (start, data,
    // parity and stop bits) at its rate, never less than 10 ms.
    static unsigned BreakHoldMs(const DCB& line);
    // Purges both ways and reports the line errors counted since the open or
    // the last Reset as WM_STATUSTEXT IDS_BREAK_DETECTED..IDS_OUTPUT_FULL.
    bool Reset();

    // Starts the reader thread for target, when the port is open and no
    // reader runs (a running one keeps its target).
    void ReadStart(CMessageTarget* target);
    // Ends the reader thread; see ReaderThread.h.
    void ReadStop() { m_reader.Stop(); }
    // A reader thread has been started and not stopped; it tells of a
    // hang-up itself.
    bool IsReading() const { return m_reader.Started(); }

    bool GetDCB(DCB& dcb);
    // Applies line settings; a refusal closes the port (WM_COMMSTATUS -1).
    bool SetDCB(const DCB& dcb);
    bool SetReadTimeouts(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant);
    // Reopens, keeping the line settings of the port open before.
    bool Reopen(const std::string& name);

    // Applies the line settings the value holds to the open port, one after
    // the other (PortSettings.h gives the order), each read, changed and
    // written back; true when all were taken. A device that refuses one is
    // reported and the port closed (WM_COMMSTATUS -1). Chosen by the user, a
    // setting the line cannot take is passed over; from the profile, it and
    // a device's refusal are reported (again) naming the stored key, the
    // port is closed and the rest is left.
    bool ApplySettings(const CPortSettings& settings, TSettingsFrom from = TSettingsFrom::USER);
    // The port's name (the last one opened) and, while it is open, the
    // device's line settings; false when they could not be read.
    bool GetSettings(CPortSettings& settings);
    // The name alone, without asking the device; false before any open.
    bool GetPortName(std::string& text) const { return m_settings.GetPortName(text); }

    // The open device's link round trip in ms (0 on a local line or closed),
    // and whether it is a network port.
    unsigned RoundTripMs() const;
    bool IsNetworkLink() const;
    // Why the last Read, Write, FlushWrites or SendBreak failed (or the line
    // settings were refused), in the user's terms, never a call name: the
    // system's text, or "the device is gone (...)", "the port took no output
    // for N ms", "nothing came in on the port for N ms", "the port is not
    // open". Cleared by a successful Open and by a Read or Write that
    // succeeds (the line works again); a FlushWrites or SendBreak that
    // succeeds leaves it, so the clean-up after a failure does not hide why.
    // Empty before any failure.
    const std::string& GetLastFailure() const { return m_lastFailure; }
    // The last failure said the device or the connection is gone; cleared
    // with GetLastFailure.
    bool IsDeviceGone() const { return m_deviceGone; }
    // Closes the port because its device went away; GetGoneName names the
    // port until the next Open or Close.
    void CloseAsGone();
    const std::string& GetGoneName() const { return m_goneName; }

    // Every byte written and read from now on (also by a reader started
    // later) goes to trace; null for none.
    void SetTrace(std::shared_ptr<CLineTrace> trace) { m_trace = std::move(trace); }

private:
    // The profile (PortProfile.cpp), run by the constructor and the
    // destructor: the switches "Verbose" and "AutoOpen", the stored port
    // and its line settings.
    bool LoadProfile();
    bool SaveProfile();
    void NotifyStatus(int code, int value);
    void ShowStatusText(unsigned id);
    // Rate, data bits, parity and stop bits of the device equal expected's.
    bool MatchesDCB(const DCB& expected);
    bool GetTimeouts(COMMTIMEOUTS& timeouts);
    bool SetTimeouts(const COMMTIMEOUTS& timeouts);
    // Port name, open flag and line settings; text first when given. For
    // the report of a failed open.
    bool DumpState(std::ostream& out, const char* text);
    // One line setting: read, changed, written back.
    bool ApplyLine(const CPortSettings& settings, CPortSettings::TLine line);
    const std::string& Name() const { return m_settings.m_port; }

    // Remembers the failure's code, traces it with the call's name and hands
    // the user's text to the reporter when verbose and it has a code (or
    // evenWithoutCode).
    void Report(const CWin32Err& err, bool evenWithoutCode = false);
    // The same, after WM_COMMSTATUS -1 and closing the port; the reason is
    // kept for GetLastFailure.
    void ReportAndClose(const CWin32Err& err, bool evenWithoutCode = false);
    bool FailOpen(const CWin32Err& err);
    // A failed Read, Write, FlushWrites or SendBreak: keeps reason for
    // GetLastFailure (empty: err's code as the user reads it) and reports
    // err when there is one.
    void FailIo(const CWin32Err* err, const std::string& reason = std::string());
    // Notes a network link's round trip in the trace: once after the open,
    // then when it changed noticeably.
    void TraceRoundTrip();
    // A pause from the profile in ms, read afresh for every request so an
    // edited profile applies at once.
    static unsigned ProfileMs(const char* key);
    bool ReadWithTimeouts(unsigned char* buf, unsigned capacity, unsigned& got);

    DeviceFactory m_factory;
    std::shared_ptr<CSerialDevice> m_device;  // null while closed
    CPortSettings m_settings;  // the name of the port last opened; the line as last read
    bool m_verbose = true;
    bool m_autoOpen = true;
    bool m_storesProfile = true;
    IPortReporter* m_reporter = nullptr;
    std::shared_ptr<CLineTrace> m_trace;
    CMessageTarget* m_notifyWnd = nullptr;
    CReaderThread m_reader;
    COMMTIMEOUTS m_timeouts;
    CSerialDevice::TErrorCounts m_errorBase;  // counters at open or the last Reset
    int m_lastError = 0;                      // code of the last reported failure
    std::string m_opening;                    // the port an Open is trying, as the user knows it
    std::string m_openFailure;
    std::string m_lastFailure;                // see GetLastFailure
    bool m_deviceGone = false;                // see IsDeviceGone
    std::string m_goneName;                   // see GetGoneName
    long long m_tracedRoundTripMs = -1;       // as last traced; -1: not yet since the open
    unsigned m_openSerial = 0;                // see OpenSerial
};
