// The far end of a network device for the device contract: the test server.
#pragma once

#include "DeviceContract.h"
#include "NetDevice.h"
#include "NetTestServer.h"
#include "Rfc2217Device.h"

// A network device and the server at the far end of its connection, for the device contract.
class CNetLine : public CDeviceUnderTest {
public:
    explicit CNetLine(bool rfc2217) : m_rfc2217(rfc2217), m_server(Behaviour(rfc2217)) {}
    std::shared_ptr<CSerialDevice> MakeDevice() override {
        if (m_rfc2217) return std::make_shared<CRfc2217Device>();
        return std::make_shared<CTcpDevice>();
    }
    std::string Path() override { return m_server.Name(m_rfc2217 ? "rfc2217" : "tcp"); }
    std::string Provoke(CSerialDevice&) override {
        const std::string wire = m_rfc2217 ? std::string("12\xff\xff\r\0\n", 7) : std::string("12\xff\r\0\n", 6);
        return m_server.Send(wire) ? std::string("12\xff\r\0\n", 6) : std::string();
    }
    std::string FarEndGot(std::size_t count, int timeoutMs) override {
        m_server.WaitFor([&] { return m_server.Data().size() >= count; }, timeoutMs);
        return m_server.Data();
    }
    void HangUp() override { m_server.HangUp(); }

private:
    static CNetTestServer::TBehaviour Behaviour(bool rfc2217) {
        CNetTestServer::TBehaviour how;
        how.telnet = rfc2217;
        return how;
    }
    bool m_rfc2217;
    CNetTestServer m_server;
};

