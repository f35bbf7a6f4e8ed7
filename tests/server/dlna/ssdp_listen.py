#!/usr/bin/env python3
"""Listens for SSDP NOTIFY messages on the interface with the given address and
prints "ready" once it has joined the group, then "NTS USN" for each notification,
until the given number of seconds has passed."""
import socket
import struct
import sys
import time

address, seconds = sys.argv[1], float(sys.argv[2])
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
sock.bind(("", 1900))
sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                struct.pack("4s4s", socket.inet_aton("239.255.255.250"), socket.inet_aton(address)))
print("ready", flush=True)
end = time.monotonic() + seconds
while time.monotonic() < end:
    sock.settimeout(max(0.05, end - time.monotonic()))
    try:
        data, _ = sock.recvfrom(4096)
    except socket.timeout:
        break
    headers = {}
    for line in data.decode(errors="replace").split("\r\n")[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    if "nts" in headers:
        print(headers["nts"], headers.get("usn", ""), flush=True)
