"""A Modbus server from Debian's python3-pymodbus, for the interoperability tests.

Usage: pymodbus_server.py [--framer rtu|ascii] [--unit N] [--baud B] [--stopbits 1|2]
                          [--data registers|libmodbus|pattern] LINK [REGISTER=VALUE ...]
LINK is where it serves:
  PORT             Modbus TCP on 127.0.0.1:PORT, answering any unit identifier. With 0 the
                   system picks the port, printed on the first line of standard output.
  tcp://HOST:PORT  serial frames (--framer) over TCP, as a serial device server passes them.
  DEVICE           a serial line at --baud (19200), 8 data bits, no parity, --stopbits (1).
Over a serial framing only --unit (1) answers; every other unit gets no answer.
The data (--data):
  registers  holding registers 0 to 199, zero unless a REGISTER=VALUE gives them; reads
             beyond register 199 get the exception reply "illegal data address".
  libmodbus  the libmodbus test server's data: 1000 of each kind from address 0, discrete
             input i on when i is a multiple of 3, coils off, input register i holding
             i * 7, holding register i holding i.
  pattern    3000 of each kind: coil and discrete input i set when i % 3 == 0, holding
             register i holding 3 * i + 1, input register i holding 1000 + i.
It runs until killed, and ends when the process that started it ends, so that a test that
crashed leaves no server behind.
"""
import argparse
import asyncio
import ctypes
import logging
import os
import signal
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartSerialServer
from pymodbus.server.async_io import ModbusTcpServer
from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer, ModbusSocketFramer

PR_SET_PDEATHSIG = 1


def end_with_starter():
    starter = os.getppid()
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0) != 0 or os.getppid() != starter:
        sys.exit(1)


def block(values):
    return ModbusSequentialDataBlock(0, values)


def tables(data, assignments):
    if data == "libmodbus":
        size = 1000
        return ModbusSlaveContext(di=block([i % 3 == 0 for i in range(size)]),
                                  co=block([False] * size), hr=block(list(range(size))),
                                  ir=block([(i * 7) & 0xFFFF for i in range(size)]),
                                  zero_mode=True)
    if data == "pattern":
        size = 3000
        return ModbusSlaveContext(di=block([i % 3 == 0 for i in range(size)]),
                                  co=block([i % 3 == 0 for i in range(size)]),
                                  hr=block([(3 * i + 1) & 0xFFFF for i in range(size)]),
                                  ir=block([(1000 + i) & 0xFFFF for i in range(size)]),
                                  zero_mode=True)
    values = [0] * 200
    for assignment in assignments:
        register, value = assignment.split("=")
        values[int(register)] = int(value, 0)
    return ModbusSlaveContext(hr=block(values), zero_mode=True)


async def serve_tcp(context, framer, host, port):
    server = ModbusTcpServer(context, framer=framer, address=(host, port),
                             allow_reuse_address=True, ignore_missing_slaves=True)
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    if port == 0:
        print(server.server.sockets[0].getsockname()[1], flush=True)
    await task


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--framer", choices=("rtu", "ascii"), default="rtu")
    parser.add_argument("--unit", type=int, default=1)
    parser.add_argument("--baud", type=int, default=19200)
    parser.add_argument("--stopbits", type=int, choices=(1, 2), default=1)
    parser.add_argument("--data", choices=("registers", "libmodbus", "pattern"),
                        default="registers")
    parser.add_argument("link")
    parser.add_argument("registers", nargs="*", metavar="REGISTER=VALUE")
    options = parser.parse_args()
    # Client disconnects and the exception replies asked for are logged as errors by
    # pymodbus; they are expected here.
    logging.disable(logging.CRITICAL)
    store = tables(options.data, options.registers)
    serial_framer = ModbusRtuFramer if options.framer == "rtu" else ModbusAsciiFramer
    if options.link.isdigit():
        context = ModbusServerContext(slaves=store, single=True)
        asyncio.run(serve_tcp(context, ModbusSocketFramer, "127.0.0.1", int(options.link)))
        return
    context = ModbusServerContext(slaves={options.unit: store}, single=False)
    if options.link.startswith("tcp://"):
        host, port = options.link[len("tcp://"):].rsplit(":", 1)
        asyncio.run(serve_tcp(context, serial_framer, host, int(port)))
        return
    StartSerialServer(context=context, framer=serial_framer, port=options.link,
                      baudrate=options.baud, bytesize=8, parity="N", stopbits=options.stopbits,
                      timeout=0.005, ignore_missing_slaves=True)


if __name__ == "__main__":
    end_with_starter()
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
