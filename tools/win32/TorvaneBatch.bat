@rem The installation script of the simulator stand-in: runs torvane-sim.exe
@rem from the folder of this script with the arguments it was given.
@"%~dp0torvane-sim.exe" %*
