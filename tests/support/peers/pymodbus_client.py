"""A Modbus master from Debian's python3-pymodbus, for the interoperability tests.

Usage: pymodbus_client.py [--framer socket|rtu|ascii] [--unit N] LINK [START COUNT]
LINK is a TCP port on 127.0.0.1, spoken with the Modbus TCP framing (socket) or with a
serial line's framing passed over TCP (rtu, ascii), or a serial device at 115200 baud,
8 data bits, no parity (rtu, ascii). --framer is rtu and --unit 1 unless given.

With START and COUNT it reads COUNT holding registers from START and prints them
comma-separated; it exits with 1 and the reason when the read fails.
Without them it runs a fixed sequence of requests and prints one line per request:
"<name>: <values>" for a normal reply, "<name>: exception <code>" for an exception reply,
"<name>: error <text>" when no usable reply came.
"""
import argparse
import logging
import sys

from pymodbus.client import ModbusSerialClient, ModbusTcpClient
from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer, ModbusSocketFramer

FRAMERS = {"socket": ModbusSocketFramer, "rtu": ModbusRtuFramer, "ascii": ModbusAsciiFramer}


def show(name, call):
    try:
        reply = call()
    except Exception as error:  # a peer must report, never stop half way
        print(f"{name}: error {error}", flush=True)
        return
    if reply.isError():
        code = getattr(reply, "exception_code", None)
        if code is None:
            print(f"{name}: error {reply}", flush=True)
        else:
            print(f"{name}: exception {code}", flush=True)
    elif hasattr(reply, "bits"):
        print(f"{name}: " + "".join("1" if b else "0" for b in reply.bits), flush=True)
    elif hasattr(reply, "registers"):
        print(f"{name}: " + ",".join(f"{r:04X}" for r in reply.registers), flush=True)
    else:
        fields = [getattr(reply, f) for f in ("address", "value", "count") if hasattr(reply, f)]
        print(f"{name}: " + ",".join(str(f) for f in fields), flush=True)


def every_command(client, unit):
    show("read_coils", lambda: client.read_coils(10, 12, slave=unit))
    show("read_discrete_inputs", lambda: client.read_discrete_inputs(10, 12, slave=unit))
    show("read_holding_registers", lambda: client.read_holding_registers(100, 5, slave=unit))
    show("read_input_registers", lambda: client.read_input_registers(200, 3, slave=unit))
    show("write_coil", lambda: client.write_coil(20, True, slave=unit))
    show("write_register", lambda: client.write_register(30, 0xBEEF, slave=unit))
    show("write_coils", lambda: client.write_coils(40, [True, False, True], slave=unit))
    show("write_registers", lambda: client.write_registers(50, [1, 2, 3], slave=unit))
    show("read_back", lambda: client.read_holding_registers(50, 3, slave=unit))
    show("refused_read", lambda: client.read_holding_registers(1000, 1, slave=unit))
    show("refused_command", lambda: client.read_exception_status(slave=unit))
    return 0


def read_registers(client, unit, start, count):
    reply = client.read_holding_registers(start, count, slave=unit)
    if reply.isError():
        print(reply, file=sys.stderr)
        return 1
    print(",".join(str(value) for value in reply.registers))
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--framer", choices=tuple(FRAMERS), default="rtu")
    parser.add_argument("--unit", type=int, default=1)
    parser.add_argument("link")
    parser.add_argument("read", nargs="*", type=int, metavar="START COUNT")
    options = parser.parse_args()
    if len(options.read) not in (0, 2):
        parser.error("give both START and COUNT, or neither")
    logging.disable(logging.CRITICAL)
    framer = FRAMERS[options.framer]
    if options.link.isdigit():
        client = ModbusTcpClient("127.0.0.1", port=int(options.link), framer=framer, timeout=3)
    else:
        client = ModbusSerialClient(options.link, framer=framer, baudrate=115200, parity="N",
                                    timeout=2, retries=0)
    if not client.connect():
        print("cannot connect to " + options.link, file=sys.stderr)
        return 1
    try:
        if options.read:
            return read_registers(client, options.unit, *options.read)
        return every_command(client, options.unit)
    finally:
        client.close()


if __name__ == "__main__":
    sys.exit(main())
