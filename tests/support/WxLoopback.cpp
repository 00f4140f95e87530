#include "support/WxLoopback.h"

namespace bcxtest {

wxIPV4address LoopbackWxAddress(uint16_t port)
{
    wxIPV4address address;
    address.Hostname(wxS("127.0.0.1"));
    address.Service(port);
    return address;
}

} // namespace bcxtest
