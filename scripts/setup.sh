#!/usr/bin/env bash
# Installs what trovik needs to build and test, then builds and installs the
# package. Safe to run again: installed packages are skipped and the build
# directory under build/ is reused, so a rebuild only compiles what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

# clang-16, its runtime libraries (libFuzzer, the sanitizers) and lld build the
# fuzz targets that scripts/fuzz.sh runs; clang-format-16 is what
# scripts/format.sh formats and checks with.
APT_PACKAGES=(g++ libssl-dev libasio-dev nlohmann-json3-dev doctest-dev ccache mosquitto openssl
              clang-16 libclang-rt-16-dev lld-16 clang-format-16)
# One package a line, each peer with what it is checked against.
PIP_PACKAGES=(
  scikit-build-core ninja cmake pytest pytest-asyncio crcmod cbor2 eclipse-zenoh rosbags aiocoap paho-mqtt
  numpy     # the 32-bit float model the robotics kit's results are checked against, bit for bit
  pymavlink # the independent MAVLink peer
  cobs sliplib # the independent COBS and SLIP peers
  python-can cantools # the independent CAN frame and J1939 peers
  cryptography PyNaCl # the independent Ed25519, X25519, ChaCha20-Poly1305 and HKDF peers
  LoRaRF # the independent SX127x driver whose register settings the SX127x radio's are checked against
  'pymodbus<4' # the independent Modbus RTU framer, serial server and client (its data stores change in 4)
  pyserial # the terminals pymodbus's serial server and client open
  liblora pycryptodome # the independent LoRaWAN frame, MIC and join peer (from Basic MAC) and the AES it runs on
)
# Peers installed without their dependencies: they are drivers for boards, and
# pull in board support (Blinka, smbus) that tests/test_sensors.py stands in for.
PIP_NO_DEPS=(
  adafruit-circuitpython-ina219 adafruit-circuitpython-ads1x15 # independent INA219 and ADS1115 drivers, run over our simulated parts
  adafruit-circuitpython-busdevice adafruit-circuitpython-register # what those two drivers are built on
  opt3001 # an independent OPT3001 driver, run over our simulated part
  adafruit-circuitpython-bme280 adafruit-circuitpython-bmp280 # independent BME280 and BMP280 drivers (float compensation), run over our simulated parts
  adafruit-circuitpython-sht31d # an independent SHT3x driver, run over our simulated part
  adafruit-circuitpython-scd4x # an independent SCD4x driver, run over our simulated part
  adafruit-circuitpython-tmp117 circuitpython-hdc1080 # independent TMP117 and HDC1080 drivers, run over our simulated parts
  adafruit-circuitpython-pca9685 adafruit-circuitpython-motor # an independent PCA9685 driver and the servo and stepper helpers on top of it, run over our simulated part
  w1thermsensor # an independent reader of the kernel's w1_slave files, run over our directory trees (its CLI needs click)
)

missing=()
for p in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

PY=${PYTHON:-python3}
need=()
for p in "${PIP_PACKAGES[@]}"; do
  "$PY" -m pip show -q "${p%%[<>=]*}" >/dev/null 2>&1 || need+=("$p")
done
if ((${#need[@]})); then
  echo "setup: installing ${need[*]}"
  "$PY" -m pip install -q --root-user-action=ignore "${need[@]}"
fi
need=()
for p in "${PIP_NO_DEPS[@]}"; do
  "$PY" -m pip show -q "$p" >/dev/null 2>&1 || need+=("$p")
done
if ((${#need[@]})); then
  echo "setup: installing ${need[*]} (without dependencies)"
  "$PY" -m pip install -q --root-user-action=ignore --no-deps "${need[@]}"
fi

# The module: a persistent build directory and ccache keep rebuilds short.
source scripts/ccache.sh
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
"$PY" -m pip install -q --root-user-action=ignore --no-build-isolation --no-deps .
