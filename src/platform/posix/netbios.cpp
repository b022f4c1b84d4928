// NetBIOS adapter enumeration, reset and local adapter status over the
// kernel's interface list.
//
// NetBIOS over TCP/IP binds one adapter number to every interface that has a
// hardware address and an IPv4 address, loopback excepted. Adapter numbers are
// the positions of those interfaces in the kernel's order, read afresh by
// every command, so they stay put while the interfaces do.
#include "winapi.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <string.h>

namespace {

constexpr int kHardwareAddressSize = 6;

struct AdapterTable {
    int count = 0;
    UCHAR addresses[sizeof LANA_ENUM::lana][kHardwareAddressSize];
};

// Addresses carry the interface's label, which is its name or, for an alias,
// the name followed by ':' and a suffix.
bool BelongsTo(const char* label, const char* name) {
    const size_t length = strlen(name);
    return strncmp(label, name, length) == 0 && (label[length] == '\0' || label[length] == ':');
}

bool HasIpv4Address(const ifaddrs* list, const char* name) {
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next)
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET &&
            BelongsTo(entry->ifa_name, name))
            return true;
    return false;
}

// The link-layer entry of an interface with a 6-byte hardware address, or null.
const sockaddr_ll* EthernetLink(const ifaddrs* entry) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET) return nullptr;
    if (entry->ifa_flags & IFF_LOOPBACK) return nullptr;
    const sockaddr_ll* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    return link->sll_halen == kHardwareAddressSize ? link : nullptr;
}

// Link entries come first in the kernel's list, one per interface in order.
bool ReadAdapters(AdapterTable* table) {
    ifaddrs* list;
    if (::getifaddrs(&list) != 0) return false;
    for (const ifaddrs* entry = list; entry && table->count < int(sizeof LANA_ENUM::lana);
         entry = entry->ifa_next) {
        const sockaddr_ll* link = EthernetLink(entry);
        if (link && HasIpv4Address(list, entry->ifa_name))
            memcpy(table->addresses[table->count++], link->sll_addr, kHardwareAddressSize);
    }
    ::freeifaddrs(list);
    return true;
}

UCHAR Enumerate(const AdapterTable& adapters, NCB* block) {
    if (block->ncb_length < sizeof(LANA_ENUM)) return NRC_BUFLEN;
    LANA_ENUM* numbers = reinterpret_cast<LANA_ENUM*>(block->ncb_buffer);
    numbers->length = static_cast<UCHAR>(adapters.count);
    for (int i = 0; i < adapters.count; ++i) numbers->lana[i] = static_cast<UCHAR>(i);
    return NRC_GOODRET;
}

// Only the local adapter ("*" as the call name) can be asked; the status
// holds its hardware address.
UCHAR Status(const AdapterTable& adapters, NCB* block) {
    if (block->ncb_callname[0] != '*') return NRC_ILLCMD;
    if (block->ncb_length < sizeof(ADAPTER_STATUS)) return NRC_BUFLEN;
    memcpy(block->ncb_buffer, adapters.addresses[block->ncb_lana_num], kHardwareAddressSize);
    return NRC_GOODRET;
}

}  // namespace

UCHAR Netbios(NCB* block) {
    AdapterTable adapters;
    if (!ReadAdapters(&adapters)) return NRC_SYSTEM;
    const bool known = block->ncb_lana_num < adapters.count;
    switch (block->ncb_command) {
    case NCBENUM: return Enumerate(adapters, block);
    case NCBRESET: return known ? NRC_GOODRET : NRC_BRIDGE;
    case NCBASTAT: return known ? Status(adapters, block) : NRC_BRIDGE;
    default: return NRC_ILLCMD;
    }
}
