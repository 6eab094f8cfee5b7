#!/usr/bin/env python3
"""A small internet radio server for the network stream tests, on 127.0.0.1 only.

Prints its port on the first line of standard output once it listens. Serves a file as a live
ICY stream and the faults a real server rarely makes, chosen by the path:

  /stream?file=F&metaint=N&titles=A|B&name=S  F with a metadata block every N bytes (block k names
                                             title k, the last one repeated); ends cleanly, or
                                             with &repeat=1 plays F over and over, never ending;
                                             &header=V sends icy-metaint: V instead of N;
                                             &icy=1 answers "ICY 200 OK" as SHOUTcast v1 does
  /cutmeta?file=F&metaint=N                  F up to the middle of its first metadata block
  /badmeta?file=F&metaint=N                  malformed blocks: no quotes, control characters,
                                             Latin-1 text, a title never closed, a huge block
  /drop?file=F&metaint=N&at=K&metaint2=M     the first request breaks off (reset) after K bytes of
                                             F; the next request sends the rest with interval M
  /aac?file=F                                F as audio/aacp
  /list?kind=pls|m3u|hls&to=U&type=T         a playlist naming U (type T, text/plain by default);
  /listen.pls?to=U                           the same at an address that names a .pls
  /flaky?file=F&metaint=N                    resets twice, closes cleanly, answers 503 (Retry-After: 1),
                                             closes unanswered, sends the rest of F, then 404
  /concat?file=F&junk=K&file2=G              F, K bytes of junk, then G
  /file?file=F&ranges=1&drop=K&rate=B&slowfrom=S
                                             F as a file (Content-Length); with ranges=1 it takes
                                             Range requests (206) and prints "range N" for each; the
                                             first response resets after K bytes; B bytes a second;
                                             300 bytes from S on at 10 bytes a second, then
                                             "slow end" (not in the last KiB, where tags are)
  /drip                                      a byte a second
  /html  /404  /loop (redirects to itself)  /redirect?... (to /stream?...)  /goto?to=U (to U)
  /stall?file=F&after=K                      K bytes of F, then silence
  /silent                                    accepts and never answers
Run with --tls CERT KEY to serve https.
"""
import http.server
import os
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import urllib.parse

_drops = {}
_drops_lock = threading.Lock()


def meta_block(text):
    data = text.encode("latin-1") if isinstance(text, str) else text
    length = (len(data) + 15) // 16
    return bytes([length]) + data + b"\0" * (length * 16 - len(data))


def title_block(title):
    return meta_block(b"StreamTitle='" + title.encode("latin-1") + b"';StreamUrl='';")


def with_metadata(audio, metaint, blocks, start=0):
    """audio with blocks[k] after each metaint bytes (the last block repeated)."""
    if not metaint:
        return audio
    out = bytearray()
    k = 0
    for pos in range(start, len(audio), metaint):
        piece = audio[pos:pos + metaint]
        out += piece
        if len(piece) == metaint:
            out += blocks[min(k, len(blocks) - 1)] if blocks else b"\0"
            k += 1
    return bytes(out)


def write_stream(out, audio, metaint, blocks, repeat):
    """As with_metadata, written as it goes; with repeat, audio over and over without end."""
    k = 0
    left = metaint
    while True:
        data = memoryview(audio)
        while data:
            n = min(len(data), left) if metaint else len(data)
            out.write(data[:n])
            data = data[n:]
            if metaint:
                left -= n
                if left == 0:
                    out.write(blocks[min(k, len(blocks) - 1)] if blocks else b"\0")
                    k += 1
                    left = metaint
        if not repeat:
            return


BAD_BLOCKS = [
    meta_block(b"StreamTitle=no quotes at all;"),
    meta_block(b"StreamTitle='Line\x01one\nand\x7ftwo';"),
    meta_block(b"StreamTitle='Caf\xe9 \x93Latin\x94';"),
    meta_block(b"StreamTitle='never closed"),
    bytes([255]) + (b"StreamTitle='" + b"H" * 4000 + b"';").ljust(255 * 16, b"\0"),
    meta_block(b"\xff\xfb\x90\x64 StreamTitle='Guns N' Roses';"),
]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def asked(self):
        """How often this path was asked for before."""
        with _drops_lock:
            n = _drops.get(self.path, 0)
            _drops[self.path] = n + 1
        return n

    def reset(self):
        """Breaks the connection off with a reset, not a clean end."""
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True
        self.connection.close()

    def start(self, metaint=0, name="", status=200, type_="audio/mpeg", header=None, icy=False):
        if icy:
            # A SHOUTcast v1 server: its own status line, headers as usual.
            self.wfile.write(b"ICY 200 OK\r\n")
        else:
            self.send_response(status)
        self.send_header("Content-Type", type_)
        if header is not None:
            self.send_header("icy-metaint", header)
        elif metaint:
            self.send_header("icy-metaint", str(metaint))
        if name:
            self.send_header("icy-name", name)
        self.end_headers()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        # Percent escapes are the bytes sent (a name in UTF-8 or in Latin-1 alike).
        q = {k: v[0] for k, v in urllib.parse.parse_qs(url.query, encoding="latin-1").items()}
        audio = open(q["file"], "rb").read() if "file" in q else b""
        metaint = int(q.get("metaint", "0"))
        path = url.path
        try:
            if path == "/stream":
                titles = q["titles"].split("|") if "titles" in q else []
                self.start(metaint, q.get("name", ""), header=q.get("header"), icy=q.get("icy") == "1")
                write_stream(self.wfile, audio, metaint, [title_block(t) for t in titles], q.get("repeat") == "1")
            elif path == "/cutmeta":
                self.start(metaint)
                block = title_block("Cut short in the middle of this block")
                self.wfile.write(audio[:metaint] + block[:len(block) // 2])
            elif path == "/badmeta":
                self.start(metaint)
                self.wfile.write(with_metadata(audio, metaint, BAD_BLOCKS))
            elif path == "/drop":
                n = self.asked()
                at = int(q["at"])
                if n == 0:
                    self.start(metaint, "First")
                    self.wfile.write(with_metadata(audio[:at], metaint, [title_block("Before")]))
                    self.wfile.flush()
                    # A reset, not a clean end: the connection is lost.
                    self.reset()
                    return
                metaint2 = int(q.get("metaint2", metaint))
                self.start(metaint2, "Second")
                self.wfile.write(with_metadata(audio[at:], metaint2, [title_block("After")]))
            elif path == "/aac":
                self.start(type_="audio/aacp")
                self.wfile.write(audio)
            elif path in ("/list", "/listen.pls"):
                to, kind = q.get("to", ""), q.get("kind", "pls")
                body = {"pls": "[playlist]\nNumberOfEntries=1\nFile1=%s\nTitle1=Station\n" % to,
                        "m3u": "#EXTM3U\n#EXTINF:-1,Station\n%s\n" % to,
                        "hls": "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nsegment1.ts\n"}[kind]
                self.start(type_=q.get("type", "text/plain"))
                self.wfile.write(body.encode())
            elif path == "/flaky":
                # A station in trouble, by request: two resets, a clean close, a 503 with
                # Retry-After, a connection closed unanswered, the rest; then the mount is gone.
                # Each piece goes on where the last one ended.
                n = self.asked()
                cut = [len(audio) * k // 4 for k in range(5)]
                piece = {0: 0, 1: 1, 2: 2, 5: 3}.get(n)
                if n == 3:
                    self.send_response(503)
                    self.send_header("Retry-After", "1")
                    self.end_headers()
                elif n == 4 or piece is None and n < 6:
                    self.close_connection = True
                elif piece is None:
                    self.send_error(404, "Not Found")
                else:
                    self.start(metaint)
                    self.wfile.write(with_metadata(audio[cut[piece]:cut[piece + 1]], metaint, [title_block("T%d" % n)]))
                    self.wfile.flush()
                    if n < 2:
                        self.reset()
            elif path == "/concat":
                # F, junk bytes, then G (another format, as a fallback mount sends).
                self.start()
                junk = bytes((k * 7919 + 13) % 251 for k in range(int(q.get("junk", "0"))))
                self.wfile.write(audio + junk + open(q["file2"], "rb").read())
            elif path == "/file":
                first = 0
                ranged = q.get("ranges") == "1" and self.headers.get("Range", "").startswith("bytes=")
                if ranged:
                    first = int(self.headers["Range"][6:].split("-")[0])
                    print("range %d" % first, flush=True)
                    self.send_response(206)
                    self.send_header("Content-Range", "bytes %d-%d/%d" % (first, len(audio) - 1, len(audio)))
                else:
                    self.send_response(200)
                self.send_header("Content-Type", "audio/mpeg")
                self.send_header("Content-Length", str(len(audio) - first))
                if q.get("ranges") == "1":
                    self.send_header("Accept-Ranges", "bytes")
                self.end_headers()
                n = self.asked()
                body = audio[first:]
                if n == 0 and "drop" in q:
                    self.wfile.write(body[:int(q["drop"])])
                    self.wfile.flush()
                    self.reset()
                    return
                rate = int(q.get("rate", "0"))
                slow = min(int(q["slowfrom"]), len(audio) - 1024) if "slowfrom" in q else len(audio)
                fast = max(0, slow - first)
                end = max(fast, min(len(body), slow + 300 - first))
                step = max(1, rate // 10) if rate else max(1, fast)
                for at in range(0, fast, step):
                    self.wfile.write(body[at:min(at + step, fast)])
                    if rate:
                        self.wfile.flush()
                        time.sleep(0.1)
                for at in range(fast, end):
                    self.wfile.write(body[at:at + 1])
                    self.wfile.flush()
                    time.sleep(0.1)
                if end > fast:
                    print("slow end", flush=True)
                self.wfile.write(body[end:])
            elif path == "/drip":
                self.start()
                for _ in range(120):
                    self.wfile.write(b"\xff")
                    self.wfile.flush()
                    time.sleep(1)
            elif path == "/html":
                self.start(type_="text/html")
                self.wfile.write(b"<!DOCTYPE html><html><head><title>Radio</title></head><body>" +
                                 b"<p>Listen with your browser.</p>" * 200 + b"</body></html>")
            elif path == "/404":
                self.send_error(404, "Not Found")
            elif path == "/loop":
                self.send_response(302)
                self.send_header("Location", "/loop")
                self.end_headers()
            elif path == "/goto":
                self.send_response(302)
                self.send_header("Location", q["to"])
                self.end_headers()
            elif path == "/redirect":
                self.send_response(302)
                self.send_header("Location", "/stream?" + url.query)
                self.end_headers()
            elif path == "/stall":
                self.start()
                self.wfile.write(audio[:int(q.get("after", "0"))])
                self.wfile.flush()
                time.sleep(120)
            else:
                self.send_error(404, "Not Found")
        except (BrokenPipeError, ConnectionResetError):
            pass


class SilentHandler(Handler):
    def handle(self):
        # /silent never answers; everything else as usual.
        line = self.rfile.readline(65537)
        if line.split(b" ")[1:2] == [b"/silent"]:
            time.sleep(120)
            return
        self.raw_requestline = line
        if self.parse_request():
            self.do_GET()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server(("127.0.0.1", 0), SilentHandler)
    if len(sys.argv) == 4 and sys.argv[1] == "--tls":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
