"""Reads holding registers with Debian's python3-pymodbus over TCP, for the simulator's tests.

Usage: pymodbus_read.py PORT socket|rtu|ascii SLAVE START COUNT
Connects to 127.0.0.1:PORT with the Modbus TCP framing (socket) or with a serial line's
framing passed over TCP (rtu, ascii), reads COUNT holding registers from START and prints
them comma-separated. Exits with 1 and the reason when the read fails.
"""
import logging
import sys

from pymodbus.client import ModbusTcpClient
from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer, ModbusSocketFramer


def main():
    port, framing = int(sys.argv[1]), sys.argv[2]
    slave, start, count = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    framer = {"socket": ModbusSocketFramer, "rtu": ModbusRtuFramer,
              "ascii": ModbusAsciiFramer}[framing]
    client = ModbusTcpClient("127.0.0.1", port=port, framer=framer, timeout=3)
    if not client.connect():
        print("cannot connect to 127.0.0.1:%d" % port, file=sys.stderr)
        return 1
    reply = client.read_holding_registers(start, count, slave=slave)
    client.close()
    if reply.isError():
        print(reply, file=sys.stderr)
        return 1
    print(",".join(str(value) for value in reply.registers))
    return 0


if __name__ == "__main__":
    sys.exit(main())
