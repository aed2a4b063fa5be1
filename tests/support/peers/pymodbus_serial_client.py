"""A Modbus serial master from Debian's python3-pymodbus, for the slave's interop tests.

Usage: pymodbus_serial_client.py PORT rtu|ascii UNIT
Runs a fixed sequence of requests and prints one line per request:
"<name>: <values>" for a normal reply, "<name>: exception <code>" for an exception reply,
"<name>: error <text>" when no usable reply came.
"""
import logging
import sys

from pymodbus.client import ModbusSerialClient
from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer


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


def main():
    port, mode, unit = sys.argv[1], sys.argv[2], int(sys.argv[3])
    logging.basicConfig(level=logging.CRITICAL)
    framer = ModbusRtuFramer if mode == "rtu" else ModbusAsciiFramer
    client = ModbusSerialClient(port, framer=framer, baudrate=115200, parity="N", timeout=2, retries=0)
    if not client.connect():
        print("connect: error cannot open " + port, flush=True)
        return 1
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
    client.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
