#!/usr/bin/python3
"""SMTP server for the tests, built on aiosmtpd.

    smtp_sink.py --host ADDRESS --spool DIR

Listens on ADDRESS at a port the system picks and prints "port N" on
standard output once it accepts connections. Every accepted mail becomes
one file DIR/NNNNNN.mail, written under a hidden name and then renamed, so
a reader never sees half a mail:

    from <envelope sender>
    to <envelope recipient>        (one line per recipient)
    <empty line>
    <the message as received, CR LF line ends>

Recipients whose local part begins with "reject" are refused with 550.
Ends on SIGTERM or SIGINT.
"""

import argparse
import asyncio
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


class SpoolHandler:
    def __init__(self, spool):
        self.spool = spool
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.split("@", 1)[0].lower().startswith("reject"):
            return "550 recipient rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        name = "%06d.mail" % self.count
        hidden = os.path.join(self.spool, "." + name + ".part")
        lines = [b"from " + envelope.mail_from.encode("utf-8", "surrogateescape")]
        for rcpt in envelope.rcpt_tos:
            lines.append(b"to " + rcpt.encode("utf-8", "surrogateescape"))
        with open(hidden, "wb") as f:
            f.write(b"\n".join(lines) + b"\n\n")
            f.write(envelope.original_content)
        os.rename(hidden, os.path.join(self.spool, name))
        return "250 OK: queued as " + name


async def serve(host, spool):
    loop = asyncio.get_running_loop()
    handler = SpoolHandler(spool)
    # A fixed host name: the default looks up the machine's FQDN, which can stall.
    server = await loop.create_server(
        lambda: SMTP(handler, hostname="quorvale-sink", timeout=60), host=host, port=0
    )
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    print("port %d" % server.sockets[0].getsockname()[1], flush=True)
    await stop.wait()
    server.close()
    await server.wait_closed()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--spool", required=True)
    args = parser.parse_args()
    if not os.path.isdir(args.spool):
        print("spool folder missing: " + args.spool, file=sys.stderr)
        return 2
    asyncio.run(serve(args.host, args.spool))
    return 0


if __name__ == "__main__":
    sys.exit(main())
