#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that makes a local server look far away: every
chunk read from one side is written to the other a fixed delay later (in each
direction, so the round trip grows by twice the delay), and an optional
bandwidth cap paces each direction as a link of that speed would. It counts
the bytes that cross it each way: the bytes on the wire.

usage: bench/relay.py LISTEN_PORT TARGET_PORT DELAY_MS [MBIT]
       (or, from Python: with Relay(target_port, delay_ms, mbit) as relay: ...)
"""

import asyncio
import sys
import threading
import time

CHUNK = 64 * 1024


class Relay:
    """Runs the relay on a thread of its own for the life of the object."""

    def __init__(self, target_port, delay_ms=0.0, mbit=None, listen_port=0):
        self.target_port = target_port
        self.delay = delay_ms / 1000.0
        self.bytes_per_second = mbit * 1_000_000 / 8 if mbit else None
        self.listen_port = listen_port
        self.to_server = 0
        self.to_client = 0
        self._ready = threading.Event()
        self._loop = None
        self._thread = None
        self._server = None

    # -- life ---------------------------------------------------------------

    def __enter__(self):
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()
        self._ready.wait()
        return self

    def __exit__(self, *exc):
        self._loop.call_soon_threadsafe(self._stop)
        self._thread.join(timeout=10)

    @property
    def port(self):
        return self.listen_port

    def reset_counts(self):
        self.to_server = 0
        self.to_client = 0

    def _run(self):
        self._loop = asyncio.new_event_loop()
        self._loop.run_until_complete(self._start())
        self._ready.set()
        self._loop.run_forever()
        self._loop.close()

    async def _start(self):
        self._server = await asyncio.start_server(self._serve, "127.0.0.1", self.listen_port)
        self.listen_port = self._server.sockets[0].getsockname()[1]

    def _stop(self):
        self._server.close()
        for task in asyncio.all_tasks(self._loop):
            task.cancel()
        self._loop.call_soon(self._loop.stop)

    # -- one connection ---------------------------------------------------

    async def _serve(self, client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1",
                                                                         self.target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(
            self._direction(client_reader, server_writer, "to_server"),
            self._direction(server_reader, client_writer, "to_client"),
            return_exceptions=True)

    async def _direction(self, reader, writer, counter):
        """Chunks go into a queue stamped with the time they arrived; a
        writer task sends each once its delay has passed and, with a cap,
        once the link would have carried the bytes before it."""
        queue = asyncio.Queue()

        async def read():
            try:
                while True:
                    chunk = await reader.read(CHUNK)
                    await queue.put((time.monotonic(), chunk))
                    if not chunk:
                        return
            except (ConnectionError, asyncio.CancelledError):
                await queue.put((time.monotonic(), b""))

        async def write():
            link_free = 0.0
            try:
                while True:
                    arrived, chunk = await queue.get()
                    if not chunk:
                        break
                    due = arrived + self.delay
                    if self.bytes_per_second:
                        start = max(arrived, link_free)
                        link_free = start + len(chunk) / self.bytes_per_second
                        due = link_free + self.delay
                    wait = due - time.monotonic()
                    if wait > 0:
                        await asyncio.sleep(wait)
                    writer.write(chunk)
                    setattr(self, counter, getattr(self, counter) + len(chunk))
                    await writer.drain()
            except (ConnectionError, asyncio.CancelledError):
                pass
            finally:
                try:
                    writer.close()
                except Exception:
                    pass

        await asyncio.gather(read(), write(), return_exceptions=True)


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    listen, target, delay = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    mbit = float(sys.argv[4]) if len(sys.argv) == 5 else None
    with Relay(target, delay, mbit, listen_port=listen) as relay:
        print(f"relay on 127.0.0.1:{relay.port} to {target}, {delay} ms each way"
              + (f", {mbit} Mbit/s" if mbit else ""), flush=True)
        try:
            while True:
                time.sleep(3600)
        except KeyboardInterrupt:
            pass


if __name__ == "__main__":
    main()
