#!/usr/bin/python3
"""A relay on loopback that holds every segment a set time each way, for the benchmark's row
over a link with latency (scripts/bench.sh).

  latency_relay.py LOG NAME=LISTEN:TARGET:DELAY_MS [NAME=LISTEN:TARGET:DELAY_MS ...]

Each NAME listens on 127.0.0.1:LISTEN (0: a free port) and relays every connection to
127.0.0.1:TARGET, holding what it reads from either side DELAY_MS milliseconds before it writes it
on (the order of the bytes kept). It prints "NAME PORT" for each once it listens, then "ready",
and appends one JSON line per connection to LOG when both sides have closed:

  {"name": ..., "ms": ..., "turns": ..., "client_chunks": ..., "server_chunks": ...,
   "client_bytes": ..., "server_bytes": ...}

ms runs from the accept to the last close. turns counts the client's round trips: a chunk from
the client that comes after the connection opened or after the relay handed the client
something from the server starts one, so that commands sent together count once however they
are split; a last one that nothing answers before the client closes (a TLS close_notify) is no
round trip and is not counted.
Only Debian's python3 is needed; nothing binds anything but 127.0.0.1.
"""
import asyncio
import json
import sys
import time

LOOPBACK = "127.0.0.1"
CHUNK = 65536


class Connection:
    def __init__(self, name):
        self.name = name
        self.start = time.monotonic()
        self.turns = 0
        self.chunks = {"client": 0, "server": 0}
        self.bytes = {"client": 0, "server": 0}
        # The client has been handed server bytes (or has just connected) since it last sent.
        self.waiting = True

    def record(self):
        return {"name": self.name, "ms": round((time.monotonic() - self.start) * 1000.0, 3),
                "turns": self.turns, "client_chunks": self.chunks["client"],
                "server_chunks": self.chunks["server"], "client_bytes": self.bytes["client"],
                "server_bytes": self.bytes["server"]}


async def pump(reader, writer, delay, connection, side):
    """Reads from one side and writes to the other, each chunk held delay seconds."""
    queue = asyncio.Queue()

    async def hold():
        while True:
            due, data = await queue.get()
            pause = due - time.monotonic()
            if pause > 0:
                await asyncio.sleep(pause)
            if data is None:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            if side == "server":
                connection.waiting = True
            await writer.drain()

    holder = asyncio.ensure_future(hold())
    try:
        while True:
            data = await reader.read(CHUNK)
            if side == "client" and data and connection.waiting:
                connection.turns += 1
                connection.waiting = False
            if data:
                connection.chunks[side] += 1
                connection.bytes[side] += len(data)
            queue.put_nowait((time.monotonic() + delay, data or None))
            if not data:
                if side == "client" and not connection.waiting and connection.turns > 0:
                    connection.turns -= 1  # sent on the way out, answered by nothing
                break
    except (ConnectionError, OSError):
        queue.put_nowait((time.monotonic() + delay, None))
    try:
        await holder
    except (ConnectionError, OSError):
        pass


async def serve(name, target, delay, log, client_reader, client_writer):
    connection = Connection(name)
    try:
        server_reader, server_writer = await asyncio.open_connection(LOOPBACK, target)
    except OSError:
        client_writer.close()
        return
    await asyncio.gather(
        pump(client_reader, server_writer, delay, connection, "client"),
        pump(server_reader, client_writer, delay, connection, "server"))
    for writer in (client_writer, server_writer):
        writer.close()
    with open(log, "a") as f:
        f.write(json.dumps(connection.record()) + "\n")


async def main(log, routes):
    servers = []
    for route in routes:
        name, ports = route.split("=", 1)
        listen, target, delay_ms = ports.split(":")
        delay = float(delay_ms) / 1000.0

        def handler(r, w, name=name, target=int(target), delay=delay):
            return serve(name, target, delay, log, r, w)

        server = await asyncio.start_server(handler, LOOPBACK, int(listen))
        servers.append(server)
        print(name, server.sockets[0].getsockname()[1], flush=True)
    print("ready", flush=True)
    await asyncio.gather(*(s.serve_forever() for s in servers))


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    try:
        asyncio.run(main(sys.argv[1], sys.argv[2:]))
    except KeyboardInterrupt:
        pass
