#!/usr/bin/python3
"""Drives the simulator with pymodbus 3.0, a Modbus client we did not write.

Usage: pymodbus_client.py tcp PORT | rtu DEVICE
Prints one line per check and exits 0 when all pass, 1 otherwise.
"""
import sys

from pymodbus.client import ModbusSerialClient, ModbusTcpClient
from pymodbus.mei_message import ReadDeviceInformationRequest


def main():
    mode, target = sys.argv[1], sys.argv[2]
    if mode == "tcp":
        client = ModbusTcpClient("127.0.0.1", port=int(target), timeout=3)
    else:
        # Parity none: a pseudo-terminal carries no parity anyway.
        client = ModbusSerialClient(port=target, baudrate=9600, parity="N", timeout=3)
    if not client.connect():
        print("cannot connect")
        return 1
    failures = []

    def check(name, ok, detail=""):
        print(("ok   " if ok else "FAIL ") + name + (" " + str(detail) if detail else ""))
        if not ok:
            failures.append(name)

    r = client.write_register(100, 77, slave=1)
    check("write single register", not r.isError(), r)
    r = client.read_holding_registers(100, 1, slave=1)
    check("read holding register back", not r.isError() and r.registers == [77], r)

    values = list(range(0x0100, 0x0100 + 10))
    r = client.write_registers(1128, values, slave=1)
    check("write multiple registers", not r.isError(), r)
    r = client.read_holding_registers(1128, 10, slave=1)
    check("read multiple back", not r.isError() and r.registers == values, r)

    r = client.read_holding_registers(1000, 126, slave=1)
    check("read 126 holding registers", not r.isError() and len(r.registers) == 126, r)

    r = client.read_input_registers(1000, 30, slave=1)
    check("read input registers", not r.isError() and len(r.registers) == 30, r)
    # Row 1 of slot 1 is 1.8.0 of the demonstration meter: a value, not all FF.
    check("energy value present", not r.isError() and r.registers[0:2] != [0xFFFF, 0xFFFF])

    r = client.read_holding_registers(200, 1, slave=1)
    check("unknown address gives exception 2", r.isError() and getattr(r, "exception_code", 0) == 2, r)

    r = client.execute(ReadDeviceInformationRequest(read_code=2, object_id=0, unit=1))
    info = getattr(r, "information", {})
    check("device identification", not r.isError() and info.get(1) == b"QVX-24S", info)

    client.close()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
