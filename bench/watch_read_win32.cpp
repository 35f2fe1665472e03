// SPDX-License-Identifier: MIT
// The Windows edition's watch read per tick (the route toward an address and its next hop's
// entry through the IP helper), timed under Wine. It only reads tables: nothing is sent.
//
//   watch_read [ADDRESS [COUNT]]     prints: read_median=US read_p99=US entries=N
#include "ip_text.h"
#include "neighbour.h"

// Winsock 2 before windows.h, and both before the IP helper's headers.
#include <winsock2.h>
#include <ws2ipdef.h>

#include <windows.h>

#include <iphlpapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const auto address = tarnvik::parseDottedIpv4(argc > 1 ? argv[1] : "192.0.2.1");
    const int count = argc > 2 ? std::stoi(argv[2]) : 2000;
    if (!address) {
        std::fputs("usage: watch_read [ADDRESS [COUNT]]\n", stderr);
        return 2;
    }
    std::vector<double> reads;
    for (int i = 0; i < count + 100; ++i) {
        tarnvik::NeighbourReading reading;
        const auto start = std::chrono::steady_clock::now();
        tarnvik::readNeighbour(*address, reading);
        const double took =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count();
        if (i >= 100) {
            reads.push_back(took);
        }
    }
    std::sort(reads.begin(), reads.end());
    MIB_IPNET_TABLE2* table = nullptr;
    unsigned long entries = 0;
    if (::GetIpNetTable2(AF_INET, &table) == NO_ERROR) {
        entries = table->NumEntries;
        ::FreeMibTable(table);
    }
    std::printf("read_median=%.1f read_p99=%.1f entries=%lu\n", reads[reads.size() / 2],
                reads[reads.size() * 99 / 100], entries);
    return 0;
}
