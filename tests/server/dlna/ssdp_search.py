#!/usr/bin/env python3
"""Sends one SSDP M-SEARCH from a given address and prints every answer's USN, one
per line, until the given number of seconds has passed."""
import socket
import sys
import time

address, target, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
sock.bind((address, 0))
sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(address))
sock.sendto(("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
             "MX: 1\r\nST: %s\r\n\r\n" % target).encode(), ("239.255.255.250", 1900))
end = time.monotonic() + seconds
while time.monotonic() < end:
    sock.settimeout(max(0.05, end - time.monotonic()))
    try:
        data, _ = sock.recvfrom(4096)
    except socket.timeout:
        break
    for line in data.decode(errors="replace").split("\r\n"):
        if line.lower().startswith("usn:"):
            print(line[4:].strip(), flush=True)
