#!/usr/bin/python3
"""A Modbus slave made with pymodbus, a Modbus implementation we did not write.

The interoperability tests read registers from it with the tool.  Register a
holds (7*a + 3) mod 65536 in the holding table and (11*a + 5) mod 65536 in the
input table, for a = 0 .. 9999, so every value read can be checked.

    pymodbus_peer.py --tcp PORT        Modbus TCP on 127.0.0.1:PORT
    pymodbus_peer.py --rtu DEVICE      Modbus RTU on a serial device (19200 8N1)

It prints "READY" once it serves, and stops by itself after --lifetime seconds.
"""
import argparse
import asyncio
import sys
import threading
import os

from pymodbus.datastore import (
    ModbusSequentialDataBlock,
    ModbusServerContext,
    ModbusSlaveContext,
)
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.server import StartAsyncSerialServer, StartAsyncTcpServer

SIZE = 10000


def make_context(unit):
    holding = [(7 * a + 3) % 65536 for a in range(SIZE)]
    inputs = [(11 * a + 5) % 65536 for a in range(SIZE)]
    slave = ModbusSlaveContext(
        hr=ModbusSequentialDataBlock(0, holding),
        ir=ModbusSequentialDataBlock(0, inputs),
        zero_mode=True,
    )
    return ModbusServerContext(slaves={unit: slave}, single=False)


async def serve(args):
    context = make_context(args.unit)
    if args.tcp is not None:
        server = await StartAsyncTcpServer(
            context=context, address=("127.0.0.1", args.tcp), defer_start=True
        )
        task = asyncio.create_task(server.serve_forever())
    else:
        server = await StartAsyncSerialServer(
            context=context,
            framer=ModbusRtuFramer,
            port=args.rtu,
            baudrate=19200,
            parity=args.parity,
            bytesize=8,
            stopbits=1,
            defer_start=True,
        )
        await server.start()
        task = None
    await asyncio.sleep(0.3)
    print("READY", flush=True)
    await asyncio.sleep(args.lifetime)
    if task:
        task.cancel()


def main():
    parser = argparse.ArgumentParser()
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--tcp", type=int)
    group.add_argument("--rtu")
    parser.add_argument("--unit", type=int, default=1)
    parser.add_argument("--parity", default="N", choices=["N", "E", "O"])
    parser.add_argument("--lifetime", type=float, default=60.0)
    args = parser.parse_args()

    # The test harness closes our stdin when it is done with us.
    def watch_stdin():
        try:
            sys.stdin.read()
        finally:
            os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
