#!/usr/bin/env python3
"""A misbehaving storage on 127.0.0.1 for the remote cache test. Prints its
port, then serves until killed (at most 120 s):
  silent    accepts and never answers
  full      never accepts; its accept queue is filled, so connects hang
  trickle   answers a Redis bulk string one byte every 200 ms
  garbage   answers what no Redis server would
  huge      announces a 300 MB answer
  http-huge the same over HTTP"""
import socket, sys, threading, time

ANSWERS = {"trickle": b"$100\r\n" + b"x" * 100, "garbage": b"HTTP/1.1 200 OK\r\n\r\n",
           "huge": b"$300000000\r\n",
           "http-huge": b"HTTP/1.1 200 OK\r\nContent-Length: 300000000\r\n\r\n"}


def serve(connection, mode):
    answer = ANSWERS.get(mode, b"")
    step = 1 if mode == "trickle" else max(len(answer), 1)
    try:
        connection.recv(65536)
        for at in range(0, len(answer), step):
            connection.sendall(answer[at:at + step])
            time.sleep(0.2 if mode == "trickle" else 0)
    except OSError:
        pass  # the client gave up: as it should
    time.sleep(120)


mode = sys.argv[1]
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(0)
print(listener.getsockname()[1], flush=True)
if mode == "full":
    fillers = [socket.socket() for _ in range(3)]
    for filler in fillers:
        filler.setblocking(False)
        filler.connect_ex(listener.getsockname())
    time.sleep(120)
while True:
    connection, _ = listener.accept()
    threading.Thread(target=serve, args=(connection, mode), daemon=True).start()
