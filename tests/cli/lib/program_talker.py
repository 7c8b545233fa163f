"""Loopback traffic of one program, for the program capture tests.

    program_talker.py sink INFO
        A TCP listener and a UDP socket on 127.0.0.1 that take whatever comes;
        writes "<tcp port> <udp port>" to INFO once both are bound.
    program_talker.py talk NAME TCP UDP GO INFO
        Every 50 ms sends "NAME-early" over a UDP socket to the sink's UDP
        port; once the file GO exists, connects to the sink's TCP port and
        sends "NAME-late" over that connection as well. Writes "udp <port>"
        and then "tcp <port>" (its own ports) to INFO as it gets them.

Both run until they are killed.
"""

import os
import select
import socket
import sys
import time


def note(path, line):
    with open(path, "a") as info:
        info.write(line + "\n")


def sink(info):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    datagrams = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    datagrams.bind(("127.0.0.1", 0))
    note(info, f"{listener.getsockname()[1]} {datagrams.getsockname()[1]}")
    readers = [listener, datagrams]
    while True:
        for ready in select.select(readers, [], [])[0]:
            if ready is listener:
                readers.append(listener.accept()[0])
            elif ready is datagrams:
                datagrams.recv(65536)
            elif not ready.recv(65536):
                readers.remove(ready)
                ready.close()


def talk(name, tcp_port, udp_port, go, info):
    datagrams = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    datagrams.connect(("127.0.0.1", udp_port))
    note(info, f"udp {datagrams.getsockname()[1]}")
    stream = None
    while True:
        datagrams.send(f"{name}-early".encode())
        if stream is None and os.path.exists(go):
            stream = socket.create_connection(("127.0.0.1", tcp_port))
            note(info, f"tcp {stream.getsockname()[1]}")
        if stream is not None:
            stream.send(f"{name}-late".encode())
        time.sleep(0.05)


if __name__ == "__main__":
    if sys.argv[1] == "sink":
        sink(sys.argv[2])
    else:
        talk(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], sys.argv[6])
