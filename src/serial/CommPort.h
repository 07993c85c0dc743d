// The one serial port the program talks to the clock through: open and
// configure, byte-block Read and Write, drain and purge, break, line settings
// as display texts, the profile switches, and the reader thread that hands
// unasked input to the Console page.
//
// Port names: "COM1".."COM4" (any case) stand for /dev/ttyS0../dev/ttyS3;
// a registered virtual port (the simulated clock, "SIM") is opened through its
// own device factory; every other name is a device path such as "/dev/ttyUSB0".
//
// Messages sent (synchronously, CMessageTarget::Send):
//   WM_COMMSTATUS (code, value) to the notify target:
//      0 open succeeded, 1 read n bytes, 2 wrote n bytes, 4 time-out,
//     -1 the port is or is being closed after a failure, or the device vanished.
//   WM_STATUSTEXT (string id, 0) to the notify target: line errors from Reset.
//   WM_PORTSTATECHANGED (0, 0) to GetMainTarget() after a successful Open.
//   WM_COMMDATA (n, address of the bytes) to the ReadStart target, from the
//     reader thread; the bytes are only valid during the Send.
//
// Threads. Everything runs on the user-interface thread except the reader
// thread, which calls Send on the notify target (WM_COMMSTATUS) and on the
// reader target (WM_COMMDATA), and ShowMessageBox when verbose. So:
//  - A Send from the reader thread may block until the receiver's thread has
//    handled it (a blocking queued call in the GUI). ReadStop therefore waits
//    for the thread while calling PumpWaitingMessages(), which must dispatch
//    those pending sends.
//  - When PumpWaitingMessages() returns false (the application is closing)
//    ReadStop stops waiting and leaves the thread to end on its own. The
//    thread then never sends again: it checks the stop request before every
//    Send, and touches neither this object nor its members any more; it owns
//    what it still uses (device, buffer, stop descriptor), and the device is
//    closed when the thread ends. The one thing the receiver must guarantee:
//    a Send that is already waiting returns (undelivered) once its receiver
//    is destroyed or its thread stops dispatching for good, as Qt's blocking
//    queued calls do when the receiver is deleted. Until then the device
//    stays open, so an Open of the same device in that window fails.
//  - Handlers dispatched while ReadStop waits may call ReadStop, ReadStart,
//    Open or Close again; a device still polled by the stopping thread is
//    closed by that thread when it ends.
//  - SetNotifyWnd and the line settings may change while the reader runs;
//    the thread keeps the targets it was started with.
//  - ShowMessageBox may be called from the reader thread (verbose only).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "Dcb.h"
#include "SerialDevice.h"

class CMessageTarget;
class CWin32Err;

class CCommPort {
public:
    // Makes a fresh, unopened device for every Open.
    using DeviceFactory = std::function<std::shared_ptr<CSerialDevice>()>;

    // Reads the profile and, when "AutoOpen" is on, opens the stored port.
    CCommPort();
    // The same on the given devices (tests, the demo port).
    explicit CCommPort(DeviceFactory factory);
    // For tools that use the stored settings but must leave the profile as it
    // is (tarvelctl): nothing is opened at construction and nothing stored at
    // the end; open with Open, then RestoreLineSettings.
    enum class TProfileUse { ReadAndStore, ReadOnly };
    CCommPort(DeviceFactory factory, TProfileUse use);
    // Stores the settings in the profile, closes the port, stops the reader.
    ~CCommPort();
    CCommPort(const CCommPort&) = delete;
    CCommPort& operator=(const CCommPort&) = delete;

    // False: the port is closed, "commport_err.txt" in the current directory
    // holds a report, WM_COMMSTATUS -1 was sent and, when verbose, a message
    // box shown.
    bool Open(const std::string& name);
    // Stops the reader, drains and purges, releases the device. Always true.
    bool Close();
    bool IsOpen() const;
    // Why the last Open failed, on one line for the user: the port tried, the
    // system's reason and what to do. Empty once an Open has succeeded.
    const std::string& GetOpenFailure() const { return m_openFailure; }
    // nullptr: nobody is told.
    void SetNotifyWnd(CMessageTarget* target);

    // Takes what is queued, up to count bytes (with the time-outs set at open
    // it never waits); count always receives the number read. On a closed
    // port reports "ReadFile" and gives false.
    bool Read(unsigned char* buf, unsigned& count);
    // Waits at most the profile's "WriteTimeOut" ms for the line to take the
    // block; on time-out sends WM_COMMSTATUS 4 and gives false. Nothing of a
    // timed-out Read or Write completes later.
    bool Write(const unsigned char* buf, unsigned count);
    // 1: discard input; 2: drain, then discard output.
    bool FlushWrites(int flags);
    // Break set, held briefly, then cleared.
    bool SendBreak();
    // Purges both ways and reports the line errors counted since the open or
    // the last Reset as WM_STATUSTEXT 40001..40008.
    bool Reset();

    // Starts the reader thread for target, when the port is open and no
    // reader runs (a running one keeps its target).
    void ReadStart(CMessageTarget* target);
    // Ends the reader thread; see the thread notes above.
    void ReadStop();

    bool GetDCB(DCB& dcb);
    // Applies line settings; a refusal closes the port (WM_COMMSTATUS -1).
    bool SetDCB(const DCB& dcb);
    // Rate, data bits, parity and stop bits of the device equal expected's.
    bool MatchesDCB(const DCB& expected);
    bool GetTimeouts(COMMTIMEOUTS& timeouts);
    bool SetTimeouts(const COMMTIMEOUTS& timeouts);
    bool SetReadTimeouts(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant);

    // Port name, open flag and line settings; text first when given.
    bool DumpState(std::ostream& out, const char* text);
    // Collects input until none came for quietMs (the first for firstMs).
    bool ReadUntilQuiet(std::ostream& out, unsigned firstMs, unsigned quietMs);
    // Reopens, keeping the line settings of the port open before.
    bool Reopen(const std::string& name);

    void NotifyStatus(int code, int value);
    void ShowStatusText(unsigned id);

    // Settings as display texts. The List operations append.
    bool ListPorts(std::vector<std::string>& ports);
    bool ListBauds(std::vector<std::string>& bauds);
    bool ListDataLengths(std::vector<std::string>& lengths);
    bool ListStopLengths(std::vector<std::string>& lengths);
    bool ListParities(std::vector<std::string>& parities);
    bool ListFlowControls(std::vector<std::string>& flows);
    bool GetDefaultPort(std::string& text);
    bool GetDefaultBaud(std::string& text);
    bool GetDefaultDataLength(std::string& text);
    bool GetDefaultParity(std::string& text);
    bool GetDefaultStopLength(std::string& text);
    bool GetDefaultFlowControl(std::string& text);
    bool SetBaud(const std::string& text);
    bool SetDataLength(const std::string& text);
    bool SetParity(const std::string& name);
    bool SetStopLength(const std::string& text);
    bool SetFlowControl(const std::string& name);
    bool GetPortName(std::string& text);
    bool GetBaud(std::string& text);
    bool GetDataLength(std::string& text);
    bool GetParity(std::string& text);
    bool GetStopLength(std::string& text);
    bool GetFlowControl(std::string& text);

    // Run by the constructor and the destructor.
    bool LoadProfile();
    bool SaveProfile();
    // Applies the stored baud rate, data bits, parity and stop bits to the
    // open port, as LoadProfile does after its automatic open; a refusal is
    // reported and closes the port.
    bool RestoreLineSettings();
    void SetVerbose(bool verbose) { m_verbose = verbose; }

    // The device path a port name stands for.
    static std::string DevicePath(const std::string& name);

    // A port that is no device file, such as a simulated clock. ListPorts
    // offers it as "NAME (description)" after the serial ports; Open takes
    // the name in any case or that listed text, and keeps NAME as the port
    // name. Its factory makes a fresh device per Open, whose Open is given
    // NAME as the path. Registering a name again replaces the entry.
    static void RegisterVirtualPort(const std::string& name, const std::string& description,
                                    DeviceFactory factory);
    static void UnregisterVirtualPort(const std::string& name);
    // The registered name text stands for, or empty.
    static std::string VirtualPortName(const std::string& text);

private:
    struct TReader;

    // The listed texts of the virtual ports, appended in registration order.
    static void ListVirtualPorts(std::vector<std::string>& texts);

    void Report(const CWin32Err& err);
    void ReportAndClose(const CWin32Err& err);
    bool FailOpen(const CWin32Err& err);
    bool ReadWithTimeouts(unsigned char* buf, unsigned capacity, unsigned& got);
    static void ReaderThreadProc(std::shared_ptr<TReader> reader);

    DeviceFactory m_factory;
    std::shared_ptr<CSerialDevice> m_device;  // null while closed
    std::string m_name;
    bool m_verbose = true;
    bool m_autoOpen = true;
    bool m_storesProfile = true;
    CMessageTarget* m_notifyWnd = nullptr;
    std::unique_ptr<std::thread> m_readerThread;
    std::shared_ptr<TReader> m_reader;     // state shared with the running thread
    std::shared_ptr<TReader> m_stopping;   // the reader ReadStop is waiting for
    std::shared_ptr<TReader> m_abandoned;  // a reader left running by ReadStop
    CMessageTarget* m_readerWnd = nullptr;
    COMMTIMEOUTS m_timeouts;
    CSerialDevice::TErrorCounts m_errorBase;  // counters at open or the last Reset
    int m_lastError = 0;                      // code of the last reported failure
    std::string m_opening;                    // the port an Open is trying, as the user knows it
    std::string m_openFailure;
};
