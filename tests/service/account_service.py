#!/usr/bin/python3
"""A stand-in for the account service, for the tests that post through the
real HTTP client.

    account_service.py --dir DIR [--proxy-auth USER:PASSWORD | --proxy] [--tls PEM]
    account_service.py --dir DIR --serve --port N

Listens on two free loopback ports: the service itself and a control port.
Every request that reaches the service is recorded byte for byte as
DIR/request-001.bin, DIR/request-002.bin, ... before it is answered.

What the service answers is chosen by the test through DIR/answer.txt, read
afresh for every request. Its first line is a command, the rest raw bytes:

    send            the bytes after the first line are sent as they stand
                    (a whole answer, or a cut one with a lying length), then
                    the connection is closed
    silent          nothing is ever sent; the connection stays open until the
                    client gives up or the service stops
    big N length    a 200 answer with N bytes of body and a Content-Length
    big N chunked   the same in chunked transfer encoding
    drip SECONDS    the bytes after the first line are sent one at a time,
                    SECONDS apart, until they end or the client goes
    reset VERB      a request with that method (POST, HEAD, ...) is recorded
                    and its connection reset, unanswered; any other request
                    gets the answer given without the file

Without the file the answer is "200 OK" with the body "OK".

With --proxy-auth a real HTTP proxy (tinyproxy) is started too, on another
free port, with basic authentication for that user; its log is DIR/proxy.log.
With --proxy the same proxy asks for no credentials.

With --tls the service speaks https with the key and certificate of the PEM
file (tests/service/localhost.pem is made for the name "localhost"; a test
that uses it trusts it in its own Wine prefix only).

When everything listens, DIR/ports.txt appears (written whole, in one step)
with the lines "service N", "control N" and, with a proxy, "proxy N"; it
goes again once the service and the proxy have stopped. Errors of the service
itself go to DIR/service.log.

With --serve it is a small stand-in site for running the program by hand
(scripts/run.sh): it listens on the given loopback port with no control
port and no time limit (it stops on SIGTERM or Ctrl+C), answers the three
posts as the service does ("OK" for an upload and an account test, a short
notice for a new account), keeps the payload file of every upload as
DIR/uploads/<user>-<profile>-NNN.txt beside the raw requests, and serves two
pages: /account/<user>/ lists that user's uploads with their applications,
/whatiskelvra/ says what the program is. answer.txt is not read then.

Lifetime: the test connects to the control port and keeps that connection
open for as long as it needs the service. When it closes, for whatever reason
(the test finished, crashed or was killed), the service and the proxy stop. A
test that never connects within a minute, or a run longer than a quarter of
an hour, stops them too, so nothing is ever left behind.
"""

import argparse
import html
import os
import re
import shutil
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import threading
import time
import urllib.parse

CONNECT_WAIT = 60.0
LIFETIME = 15 * 60.0
MAX_HEAD = 64 * 1024

stopping = threading.Event()


def write_whole(path, data):
    temp = path + ".part"
    with open(temp, "wb") as out:
        out.write(data)
    os.replace(temp, path)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Recorder:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.lock = threading.Lock()

    def record(self, raw):
        with self.lock:
            self.count += 1
            name = os.path.join(self.folder, "request-%03d.bin" % self.count)
            write_whole(name, raw)


def read_request(conn):
    """The whole raw request: head, then a body by Content-Length or chunks."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return data
        data += chunk
        if len(data) > MAX_HEAD and b"\r\n\r\n" not in data:
            return data
    head, _, body = data.partition(b"\r\n\r\n")
    length = None
    chunked = False
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        name = name.strip().lower()
        if name == b"content-length":
            length = int(value.strip() or b"0")
        elif name == b"transfer-encoding" and b"chunked" in value.lower():
            chunked = True
    if chunked:
        while not body.endswith(b"0\r\n\r\n"):
            chunk = conn.recv(65536)
            if not chunk:
                break
            body += chunk
    elif length is not None:
        while len(body) < length:
            chunk = conn.recv(65536)
            if not chunk:
                break
            body += chunk
    return head + b"\r\n\r\n" + body


def wait_for_close(conn):
    conn.settimeout(0.5)
    while not stopping.is_set():
        try:
            if not conn.recv(65536):
                return
        except socket.timeout:
            continue
        except OSError:
            return


def send_big(conn, size, chunked):
    piece = b"x" * 65536
    if chunked:
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                     b"Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n")
    else:
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                     b"Content-Length: %d\r\nConnection: close\r\n\r\n" % size)
    left = size
    while left > 0:
        part = piece[:min(left, len(piece))]
        conn.sendall(b"%x\r\n%s\r\n" % (len(part), part) if chunked else part)
        left -= len(part)
    if chunked:
        conn.sendall(b"0\r\n\r\n")


class Site:
    """The --serve mode: the service's posts and pages, uploads kept."""

    def __init__(self, folder):
        self.uploads = os.path.join(folder, "uploads")
        os.makedirs(self.uploads, exist_ok=True)
        self.lock = threading.Lock()

    @staticmethod
    def form_fields(head, body):
        """name -> (filename or None, bytes) of a multipart/form-data body."""
        match = re.search(rb"boundary=\"?([^\";\r\n]+)", head, re.IGNORECASE)
        fields = {}
        if not match:
            return fields
        for part in body.split(b"--" + match.group(1))[1:]:
            if part.startswith(b"--"):
                break
            part_head, _, value = part.partition(b"\r\n\r\n")
            name = re.search(rb'name="([^"]*)"', part_head)
            filename = re.search(rb'filename="([^"]*)"', part_head)
            if name:
                fields[name.group(1).decode("latin-1")] = (
                    filename.group(1).decode("latin-1") if filename else None,
                    value[:-2] if value.endswith(b"\r\n") else value)
        return fields

    @staticmethod
    def send(conn, status, body, content_type="text/html; charset=utf-8"):
        data = body.encode("utf-8")
        conn.sendall(b"HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n"
                     b"Connection: close\r\n\r\n" % (status, b"OK" if status == 200 else b"Not Found",
                                                        content_type.encode("ascii"), len(data)) + data)

    @staticmethod
    def safe(text):
        return re.sub(r"[^A-Za-z0-9._-]", "_", text) or "_"

    def answer(self, conn, raw):
        head, _, body = raw.partition(b"\r\n\r\n")
        request_line = head.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
        method = request_line[0] if request_line else ""
        # Through a proxy setting the target comes in absolute form.
        path = urllib.parse.urlsplit(request_line[1] if len(request_line) > 1 else "/").path
        if method == "POST" and path == "/kv2/account_post.php":
            fields = self.form_fields(head, body)
            user = fields.get("username", (None, b""))[1].decode("latin-1")
            profile = fields.get("profile", (None, b""))[1].decode("latin-1")
            with self.lock:
                count = len(os.listdir(self.uploads)) + 1
                name = "%s-%s-%03d.txt" % (self.safe(user), self.safe(profile), count)
                write_whole(os.path.join(self.uploads, name), fields.get("apps", (None, b""))[1])
            self.send(conn, 200, "OK", "text/html")
        elif method == "POST" and path == "/kv2/account_test.php":
            self.send(conn, 200, "OK", "text/html")
        elif method == "POST" and path == "/kv2/account_new.php":
            fields = self.form_fields(head, body)
            user = fields.get("username", (None, b""))[1].decode("latin-1")
            self.send(conn, 200, "Account %s created (local stand-in: nothing is stored)." % user,
                      "text/html")
        elif method == "GET" and path.startswith("/account/"):
            self.send(conn, 200, self.account_page(urllib.parse.unquote(path[len("/account/"):].strip("/"))))
        elif method == "GET" and path in ("/whatiskelvra", "/whatiskelvra/"):
            self.send(conn, 200, "<html><head><title>What is Kelvra?</title></head><body>"
                                 "<h1>What is Kelvra?</h1><p>Kelvra keeps a list of the software on "
                                 "your computer up to date in your account: it takes an inventory "
                                 "an hour after each run and sends the list of applications and "
                                 "versions here.</p><p>This is the local stand-in service.</p>"
                                 "</body></html>")
        else:
            self.send(conn, 404, "<html><body>Not found</body></html>")

    def account_page(self, user):
        prefix = self.safe(user) + "-"
        with self.lock:
            names = sorted(n for n in os.listdir(self.uploads) if n.startswith(prefix))
        parts = ["<html><head><title>Kelvra account %s</title></head><body>" % html.escape(user),
                 "<h1>Account %s</h1>" % html.escape(user),
                 "<p>%d upload(s) received by the local stand-in service.</p>" % len(names)]
        for name in reversed(names):
            with open(os.path.join(self.uploads, name), "rb") as source:
                lines = source.read().decode("cp1252", "replace").splitlines()
            parts.append("<h2>%s</h2><table border=1 cellpadding=3><tr><th>Application</th>"
                         "<th>Version</th></tr>" % html.escape(name))
            for line in lines:
                app, _, version = line.partition("\t")
                parts.append("<tr><td>%s</td><td>%s</td></tr>" % (html.escape(app), html.escape(version)))
            parts.append("</table>")
        parts.append("</body></html>")
        return "\n".join(parts)


class ServiceHandler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        conn.settimeout(30)
        try:
            if isinstance(conn, ssl.SSLSocket):
                conn.do_handshake()
            raw = read_request(conn)
            if not raw:
                return
            self.server.recorder.record(raw)
            if self.server.site:
                self.server.site.answer(conn, raw)
            else:
                self.answer(conn, raw)
        except (OSError, ssl.SSLError):
            # The client went away or timed out; that is its test's business.
            pass

    def answer(self, conn, raw):
        path = os.path.join(self.server.folder, "answer.txt")
        default = b"send\nHTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" \
                  b"Content-Length: 2\r\nConnection: close\r\n\r\nOK"
        try:
            with open(path, "rb") as source:
                text = source.read()
        except FileNotFoundError:
            text = default
        command, _, rest = text.partition(b"\n")
        words = command.split()
        if words[:1] == [b"reset"] and len(words) == 2:
            if raw.split(b" ", 1)[0] != words[1]:
                command, _, rest = default.partition(b"\n")
                words = command.split()
            else:
                # Closing with a zero linger time sends a reset, not a FIN.
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                conn.close()
                return
        if words[:1] == [b"send"]:
            conn.sendall(rest)
        elif words[:1] == [b"silent"]:
            wait_for_close(conn)
        elif words[:1] == [b"big"] and len(words) == 3:
            send_big(conn, int(words[1]), words[2] == b"chunked")
        elif words[:1] == [b"drip"] and len(words) == 2:
            for byte in rest:
                conn.sendall(bytes([byte]))
                if stopping.wait(float(words[1])):
                    break
        else:
            conn.sendall(b"HTTP/1.1 500 Bad answer file\r\nContent-Length: 0\r\n\r\n")


class Service(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, folder, port=0, site=None, tls=None):
        super().__init__(("127.0.0.1", port), ServiceHandler)
        self.folder = folder
        self.recorder = Recorder(folder)
        self.site = site
        self.tls = None
        if tls:
            self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls.load_cert_chain(tls)

    def get_request(self):
        conn, address = super().get_request()
        if self.tls:
            # The handshake happens in the request's own thread, on first use.
            conn = self.tls.wrap_socket(conn, server_side=True, do_handshake_on_connect=False)
        return conn, address


def start_proxy(folder, credentials):
    """tinyproxy on a free port, in the foreground, owned by this process."""
    program = shutil.which("tinyproxy") or "/usr/bin/tinyproxy"
    user, _, password = (credentials or "").partition(":")
    auth = "BasicAuth %s %s\n" % (user, password) if credentials else ""
    for _ in range(5):
        port = free_port()
        config = os.path.join(folder, "proxy.conf")
        with open(config, "w") as out:
            out.write("Port %d\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                      "LogLevel Connect\nLogFile \"%s\"\n%s"
                      "DisableViaHeader Yes\n"
                      % (port, os.path.join(folder, "proxy.log"), auth))
        proxy = subprocess.Popen([program, "-d", "-c", config],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and proxy.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return proxy, port
            except OSError:
                time.sleep(0.05)
        stop_process(proxy)
    raise SystemExit("tinyproxy did not start")


def stop_process(process):
    if process and process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def watch_control(control):
    """Stops everything once the test's control connection closes."""
    control.settimeout(CONNECT_WAIT)
    try:
        conn, _ = control.accept()
    except OSError:
        stopping.set()
        return
    conn.settimeout(1.0)
    while not stopping.is_set():
        try:
            if not conn.recv(4096):
                break
        except socket.timeout:
            continue
        except OSError:
            break
    stopping.set()


def serve(folder, port):
    signal.signal(signal.SIGINT, lambda *_: stopping.set())
    service = Service(folder, port, Site(folder))
    threading.Thread(target=service.serve_forever, kwargs={"poll_interval": 0.2},
                     daemon=True).start()
    write_whole(os.path.join(folder, "ports.txt"), b"service %d\n" % service.server_address[1])
    stopping.wait()
    service.shutdown()
    service.server_close()
    os.remove(os.path.join(folder, "ports.txt"))
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--proxy-auth")
    parser.add_argument("--proxy", action="store_true")
    parser.add_argument("--tls")
    parser.add_argument("--serve", action="store_true")
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    folder = os.path.abspath(args.dir)
    os.makedirs(folder, exist_ok=True)
    # Started from a Windows test under Wine, this process has no useful
    # standard streams.
    sys.stderr = open(os.path.join(folder, "service.log"), "a", buffering=1)
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())

    if args.serve:
        return serve(folder, args.port)

    service = Service(folder, tls=args.tls)
    control = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    control.bind(("127.0.0.1", 0))
    control.listen(1)
    proxy, proxy_port = (None, None)
    if args.proxy_auth or args.proxy:
        proxy, proxy_port = start_proxy(folder, args.proxy_auth)

    threading.Thread(target=service.serve_forever, kwargs={"poll_interval": 0.2},
                     daemon=True).start()
    threading.Thread(target=watch_control, args=(control,), daemon=True).start()

    ports = "service %d\ncontrol %d\n" % (service.server_address[1], control.getsockname()[1])
    if proxy_port:
        ports += "proxy %d\n" % proxy_port
    write_whole(os.path.join(folder, "ports.txt"), ports.encode("ascii"))

    stopping.wait(LIFETIME)
    stopping.set()
    stop_process(proxy)
    service.shutdown()
    service.server_close()
    control.close()
    os.remove(os.path.join(folder, "ports.txt"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
