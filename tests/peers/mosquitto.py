"""A real mosquitto broker for the MQTT tests.

`Mosquitto` starts /usr/sbin/mosquitto on free 127.0.0.1 ports with a
generated configuration and stops it again by its process id. With
`certificates` it also opens TLS listeners: one for 127.0.0.1, one for
localhost, and one that requires a client certificate. `make_certificates`
makes a test CA and the certificates signed by it with the openssl command.
"""

from __future__ import annotations

import os
import shutil
import socket
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _run(*args: str) -> None:
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


@dataclass(frozen=True)
class Certificates:
    """PEM files: the CA, a CA nobody uses, server certificates for 127.0.0.1
    and for localhost, and a client certificate; `text` reads one."""

    dir: Path

    def path(self, name: str) -> Path:
        return self.dir / name

    def text(self, name: str) -> str:
        return (self.dir / name).read_text()


def make_certificates(directory: Path) -> Certificates:
    d = Path(directory)
    d.mkdir(parents=True, exist_ok=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]

    def ca(name: str, cn: str) -> None:
        _run("openssl", "req", "-x509", *ec, "-keyout", str(d / f"{name}.key"), "-out", str(d / f"{name}.crt"),
             "-days", "3", "-subj", f"/CN={cn}", "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def signed(name: str, extensions: str) -> None:
        (d / f"{name}.ext").write_text(extensions)
        _run("openssl", "req", "-new", *ec, "-keyout", str(d / f"{name}.key"), "-out", str(d / f"{name}.csr"),
             "-subj", f"/CN={name}")
        _run("openssl", "x509", "-req", "-in", str(d / f"{name}.csr"), "-CA", str(d / "ca.crt"),
             "-CAkey", str(d / "ca.key"), "-CAcreateserial", "-days", "3", "-out", str(d / f"{name}.crt"),
             "-extfile", str(d / f"{name}.ext"))

    ca("ca", "Trovik Test CA")
    ca("other_ca", "Some Other CA")
    server = "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
    signed("server_ip", server + "subjectAltName=IP:127.0.0.1\n")
    signed("server_dns", server + "subjectAltName=DNS:localhost\n")
    signed("client", "basicConstraints=CA:FALSE\nextendedKeyUsage=clientAuth\n")
    return Certificates(d)


class Mosquitto:
    """A broker on 127.0.0.1. `port` is plain TCP; with certificates,
    `tls_ip_port` serves a certificate for 127.0.0.1, `tls_dns_port` one for
    localhost, and `tls_client_port` requires a client certificate. `account`
    (user name, password) makes a password file and turns anonymous clients
    away; `settings` are further lines of mosquitto's configuration."""

    def __init__(self, directory: Path, *, account: tuple[str, str] | None = None,
                 certificates: Certificates | None = None, settings: tuple[str, ...] = ()) -> None:
        self.dir = Path(directory)
        self.dir.mkdir(parents=True, exist_ok=True)
        self.port = free_port()
        self.tls_ip_port = self.tls_dns_port = self.tls_client_port = None
        lines = ["persistence false", f"log_dest file {self.dir / 'mosquitto.log'}", *settings]
        if os.geteuid() == 0:
            lines.append("user root")  # keeps the broker able to read the test's files
        if account:
            passwords = self.dir / "passwords"
            passwords.write_text("")
            _run("mosquitto_passwd", "-b", str(passwords), *account)
            lines += ["allow_anonymous false", f"password_file {passwords}"]
        else:
            lines.append("allow_anonymous true")
        lines.append(f"listener {self.port} 127.0.0.1")
        if certificates:
            self.tls_ip_port, self.tls_dns_port, self.tls_client_port = free_port(), free_port(), free_port()
            for port, server, require in ((self.tls_ip_port, "server_ip", False),
                                          (self.tls_dns_port, "server_dns", False),
                                          (self.tls_client_port, "server_ip", True)):
                lines += [f"listener {port} 127.0.0.1", f"cafile {certificates.path('ca.crt')}",
                          f"certfile {certificates.path(server + '.crt')}",
                          f"keyfile {certificates.path(server + '.key')}"]
                if require:
                    lines.append("require_certificate true")
        config = self.dir / "mosquitto.conf"
        config.write_text("\n".join(lines) + "\n")
        self._process = subprocess.Popen([MOSQUITTO, "-c", str(config)], stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
        ports = [p for p in (self.port, self.tls_ip_port, self.tls_dns_port, self.tls_client_port) if p]
        deadline = time.monotonic() + 10
        for port in ports:
            while not _accepts(port):
                if time.monotonic() > deadline or self._process.poll() is not None:
                    self.stop()
                    log = self.dir / "mosquitto.log"
                    raise RuntimeError("mosquitto did not start: " + (log.read_text() if log.exists() else ""))
                time.sleep(0.02)

    def stop(self) -> None:
        if self._process.poll() is None:
            self._process.terminate()
            try:
                self._process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()

    def __enter__(self) -> Mosquitto:
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()


def _accepts(port: int) -> bool:
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False
