"""A pymodbus Modbus TCP server for the interoperability tests.

Listens on 127.0.0.1 on a port chosen by the system and prints that port on
the first line of its standard output. The data matches the libmodbus test
server: 1000 of each kind from address 0, discrete input i on when i is a
multiple of 3, input register i holding i * 7, holding register i holding i.
It ends when the process that started it ends, so that a test that crashed
leaves no server behind.
"""
import asyncio
import ctypes
import logging
import os
import signal
import sys

PR_SET_PDEATHSIG = 1


def end_with_starter():
    starter = os.getppid()
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0) != 0 or os.getppid() != starter:
        sys.exit(1)

from pymodbus.datastore import (
    ModbusSequentialDataBlock,
    ModbusServerContext,
    ModbusSlaveContext,
)
from pymodbus.server.async_io import ModbusTcpServer

SIZE = 1000


async def main():
    logging.disable(logging.CRITICAL)
    store = ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, [i % 3 == 0 for i in range(SIZE)]),
        co=ModbusSequentialDataBlock(0, [False] * SIZE),
        hr=ModbusSequentialDataBlock(0, list(range(SIZE))),
        ir=ModbusSequentialDataBlock(0, [(i * 7) & 0xFFFF for i in range(SIZE)]),
        zero_mode=True,
    )
    context = ModbusServerContext(slaves=store, single=True)
    server = ModbusTcpServer(context, address=("127.0.0.1", 0), allow_reuse_address=True)
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    print(server.server.sockets[0].getsockname()[1], flush=True)
    await task


if __name__ == "__main__":
    end_with_starter()
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
