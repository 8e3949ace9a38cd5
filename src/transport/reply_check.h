// The checks every Modbus reply passes before its payload is looked at.
#pragma once
