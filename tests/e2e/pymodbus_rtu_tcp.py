#!/usr/bin/python3
"""pymodbus as an independent peer of servoctl and servosim over TCP.

server HOST [mbap]: serves station 1 with holding register i = 1000 + i and
  coil i on where i is even (wire addresses from 0), on a free port, as RTU
  frames over TCP or, with mbap, as Modbus TCP; prints "port N" once it
  listens.
client HOST PORT STATION [mbap]: reads input registers 0-2 and holding
  register 4 of STATION, as RTU over TCP or Modbus TCP, and prints
  "IR 0-2: a b c" and "HR 4: v".
Exits 3 when pymodbus cannot be imported, so that a test can skip.
"""
import asyncio
import sys

try:
    from pymodbus.client import ModbusTcpClient
    from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                    ModbusSlaveContext)
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    from pymodbus.framer.socket_framer import ModbusSocketFramer
    from pymodbus.server.async_io import ModbusTcpServer
except ImportError as error:
    print(f"pymodbus is missing: {error}", file=sys.stderr)
    sys.exit(3)


async def serve(host, framer):
    store = ModbusSlaveContext(
        hr=ModbusSequentialDataBlock(0, [1000 + i for i in range(100)]),
        co=ModbusSequentialDataBlock(0, [i % 2 == 0 for i in range(100)]),
        zero_mode=True)
    context = ModbusServerContext(slaves={1: store}, single=False)
    server = ModbusTcpServer(context, framer, None, (host, 0))
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    print(f"port {server.server.sockets[0].getsockname()[1]}", flush=True)
    await task


def read(host, port, station, framer):
    client = ModbusTcpClient(host, port=port, framer=framer, timeout=3)
    if not client.connect():
        sys.exit("cannot connect")
    inputs = client.read_input_registers(0, 3, slave=station)
    holding = client.read_holding_registers(4, 1, slave=station)
    client.close()
    if inputs.isError() or holding.isError():
        sys.exit(f"failed: {inputs} {holding}")
    print("IR 0-2: " + " ".join(str(v) for v in inputs.registers))
    print(f"HR 4: {holding.registers[0]}")


if __name__ == "__main__":
    if sys.argv[1] == "server":
        asyncio.run(serve(sys.argv[2], ModbusSocketFramer if sys.argv[3:] == ["mbap"] else ModbusRtuFramer))
    else:
        mbap = sys.argv[5:] == ["mbap"]
        read(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), ModbusSocketFramer if mbap else ModbusRtuFramer)
