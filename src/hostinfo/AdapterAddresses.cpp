// The hardware addresses of the adapter numbers NetBIOS knows.
#include "VekLink.h"
#include "platform/platform.h"

#include <string.h>

namespace {

// Asks for the status of the local adapter: an asterisk padded with spaces to
// the full call-name field, no terminator inside it.
const char kLocalAdapter[NCBNAMSZ + 1] = "*               ";

// Adapter status with room for the names that follow it.
struct StatusBuffer {
    ADAPTER_STATUS status;
    NAME_BUFFER names[30];
};

bool Enumerate(LANA_ENUM* numbers) {
    NCB block = {};
    block.ncb_command = NCBENUM;
    block.ncb_buffer = reinterpret_cast<UCHAR*>(numbers);
    block.ncb_length = sizeof *numbers;
    return Netbios(&block) == NRC_GOODRET;
}

bool Reset(UCHAR lana) {
    NCB block = {};
    block.ncb_command = NCBRESET;
    block.ncb_lana_num = lana;
    return Netbios(&block) == NRC_GOODRET;
}

bool QueryStatus(UCHAR lana, StatusBuffer* buffer) {
    NCB block = {};
    block.ncb_command = NCBASTAT;
    block.ncb_lana_num = lana;
    memcpy(block.ncb_callname, kLocalAdapter, NCBNAMSZ);
    block.ncb_buffer = reinterpret_cast<UCHAR*>(buffer);
    block.ncb_length = sizeof *buffer;
    return Netbios(&block) == NRC_GOODRET;
}

}  // namespace

int VekGetNetCard(unsigned char* cards) {
    LANA_ENUM numbers = {};
    if (!Enumerate(&numbers)) return 0;
    const int count = numbers.length;
    if (!cards) return count;
    // The test covers exactly the bytes written below, so a destination
    // ending at the last of them is accepted.
    if (IsBadWritePtr(cards, static_cast<UINT_PTR>(VEK_ADAPTER_ADDRESS_SIZE) * count)) return 0;
    StatusBuffer buffer;  // not cleared between adapters: each status overwrites the address
    for (int i = 0; i < count; ++i) {
        if (!Reset(numbers.lana[i]) || !QueryStatus(numbers.lana[i], &buffer)) return 0;
        memcpy(cards + static_cast<size_t>(VEK_ADAPTER_ADDRESS_SIZE) * i,
               buffer.status.adapter_address, VEK_ADAPTER_ADDRESS_SIZE);
    }
    return count;
}
