"""Writes APP/config/boot.xml that starts JAVA (with ARGS, if given), padded
with filler items up to ITEMS in all: every lookup of the launcher walks
them all."""
import argparse
import os
from xml.sax.saxutils import quoteattr


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("app")
    ap.add_argument("java")
    ap.add_argument("--args", default="")
    ap.add_argument("--items", type=int, default=0)
    ap.add_argument("--log", action="store_true", help="with the log key")
    ap.add_argument("--user-options", action="store_true", help="with the userOptions key")
    ap.add_argument("--app-id", default="", help="with the appId key")
    ap.add_argument("--single-instance", action="store_true", help="with the singleInstance key")
    opt = ap.parse_args()

    items = [("java", opt.java)]
    if opt.log:
        items.append(("log", "y"))
    if opt.user_options:
        items.append(("userOptions", "y"))
    if opt.app_id:
        items.append(("appId", opt.app_id))
    if opt.single_instance:
        items.append(("singleInstance", "y"))
    if opt.args:
        items.append(("args", opt.args))
    for i in range(max(0, opt.items - len(items))):
        items.append(("filler%06d" % i, "value of filler item %d" % i))
    os.makedirs(os.path.join(opt.app, "config"), exist_ok=True)
    with open(os.path.join(opt.app, "config", "boot.xml"), "w", encoding="utf-8") as f:
        f.write("<boot>\n")
        for key, value in items:
            f.write("  <item key=%s value=%s/>\n" % (quoteattr(key), quoteattr(value)))
        f.write("</boot>\n")


if __name__ == "__main__":
    main()
