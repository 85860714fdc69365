"""Compares the Python client's request table (orvexa.protocol) with the server's
catalog printed as JSON: every request by name and code, both ways, and the numbers of
the opening exchange and the burst slots. Exits 1 naming each difference.

Usage: python3 check_catalog.py <catalog.json> <folder of the orvexa package>
"""

import json
import re
import sys

catalog_path, package_folder = sys.argv[1:3]
sys.path.insert(0, package_folder)
from orvexa import protocol  # noqa: E402

with open(catalog_path, encoding="utf-8") as f:
    catalog = json.load(f)
differences = []


def same(what, ours, theirs):
    if ours != theirs:
        differences.append(f"{what}: client {ours}, server {theirs}")


# Request.READ_FAST_SAMPLES is the server's ReadFastSamples.
server_codes = {re.sub(r"(?<!^)(?=[A-Z])", "_", r["name"]).upper(): r["code"]
                for r in catalog["requests"]}
client_codes = {r.name: r.value for r in protocol.Request}
for name, code in server_codes.items():
    same(f"code of {name}", client_codes.get(name), code)
for name in client_codes.keys() - server_codes.keys():
    differences.append(f"{name}: the server has no such request")

same("protocol version", protocol.PROTOCOL_VERSION, catalog["version"])
same("first burst slot", protocol.FIRST_BURST_SLOT, catalog["firstBurstSlot"])
same("burst slot count", protocol.BURST_SLOT_COUNT, catalog["burstSlotCount"])
answers = catalog["helloAnswers"]
same("hello answer admitted", protocol.HELLO_ADMITTED, answers["admitted"])
same("hello answer wrongVersion", protocol.HELLO_WRONG_VERSION, answers["wrongVersion"])
same("hello answer notAuthorised", protocol.HELLO_NOT_AUTHORISED, answers["notAuthorised"])

for d in differences:
    print(d, file=sys.stderr)
sys.exit(1 if differences else 0)
