#!/usr/bin/env python3
"""A GUPnP control point for the television device's tests.

Finds the first MediaServer:1 on the interface given, with the UDN given, and
answers commands, one JSON object per line on standard output:

  browse ID FLAG START COUNT SORT   -> {"error": ..} or the Browse answer with the
                                       DIDL-Lite parsed by gupnp-av's parser
  walk                               -> every object below the root, browsed in
                                       pages of 7
  pages ID SIZE                      -> every child of ID in pages of SIZE: how many
                                       came, how many distinct ids, the slowest page
  call SERVICE ACTION NAME:TYPE...   -> the out arguments of an action without in
                                       arguments
"""
import json
import sys
import time

import gi

gi.require_version("GUPnP", "1.6")
gi.require_version("GUPnPAV", "1.0")
gi.require_version("GSSDP", "1.6")
from gi.repository import GLib, GObject, GSSDP, GUPnP, GUPnPAV  # noqa: E402

CDS = "urn:schemas-upnp-org:service:ContentDirectory:1"
CM = "urn:schemas-upnp-org:service:ConnectionManager:1"


def find_device(interface, udn, seconds):
    context = GUPnP.Context.new_full(interface, None, 0, GSSDP.UDAVersion.VERSION_1_0)
    control = GUPnP.ControlPoint.new(context, "urn:schemas-upnp-org:device:MediaServer:1")
    found = {}
    loop = GLib.MainLoop()

    def available(_control, proxy):
        if proxy.get_udn() == udn:
            found["device"] = proxy
            loop.quit()

    control.connect("device-proxy-available", available)
    control.set_active(True)
    GLib.timeout_add_seconds(seconds, loop.quit)
    loop.run()
    return context, control, found.get("device")


def value(kind, content):
    holder = GObject.Value(kind)
    if kind == GObject.TYPE_STRING:
        holder.set_string(content)
    else:
        holder.set_uint(content)
    return holder


def call(proxy, name, ins, outs):
    action = GUPnP.ServiceProxyAction.new_from_list(
        name, [n for n, _, _ in ins], [value(k, v) for _, k, v in ins])
    try:
        proxy.call_action(action, None)
        ok, values = action.get_result_list([n for n, _ in outs], [k for _, k in outs])
    except GLib.Error as error:
        return {"error": error.code, "message": error.message}
    return dict(zip([n for n, _ in outs], values))


def parse_didl(text):
    objects = []
    parser = GUPnPAV.DIDLLiteParser.new()

    def on_object(_parser, obj):
        entry = {
            "id": obj.get_id(), "parent": obj.get_parent_id(), "title": obj.get_title(),
            "class": obj.get_upnp_class(), "date": obj.get_date(),
            "albumArt": obj.get_album_art(), "res": [],
        }
        if isinstance(obj, GUPnPAV.DIDLLiteContainer):
            entry["childCount"] = obj.get_child_count()
        for res in obj.get_resources():
            info = res.get_protocol_info()
            entry["res"].append({
                "uri": res.get_uri(), "protocolInfo": info.to_string() if info else "",
                "size": res.get_size64(), "duration": res.get_duration(),
                "width": res.get_width(), "height": res.get_height(),
            })
        objects.append(entry)

    parser.connect("object-available", on_object)
    parser.parse_didl(text)
    return objects


def browse(cds, object_id, flag, start, count, sort):
    answer = call(cds, "Browse", [
        ("ObjectID", GObject.TYPE_STRING, object_id), ("BrowseFlag", GObject.TYPE_STRING, flag),
        ("Filter", GObject.TYPE_STRING, "*"), ("StartingIndex", GObject.TYPE_UINT, start),
        ("RequestedCount", GObject.TYPE_UINT, count), ("SortCriteria", GObject.TYPE_STRING, sort),
    ], [("Result", GObject.TYPE_STRING), ("NumberReturned", GObject.TYPE_UINT),
        ("TotalMatches", GObject.TYPE_UINT), ("UpdateID", GObject.TYPE_UINT)])
    if "error" not in answer:
        # gupnp-av's parser refuses an empty DIDL-Lite document: a page past the end
        answer["objects"] = parse_didl(answer.pop("Result")) if answer["NumberReturned"] else []
    return answer


def walk(cds, object_id, out):
    start = 0
    while True:
        page = browse(cds, object_id, "BrowseDirectChildren", start, 7, "")
        if "error" in page:
            out.append(page)
            return
        for obj in page["objects"]:
            out.append(obj)
            if "childCount" in obj:
                walk(cds, obj["id"], out)
        start += page["NumberReturned"]
        if page["NumberReturned"] == 0 or start >= page["TotalMatches"]:
            return


def pages(cds, object_id, size):
    ids, titles, slowest, total, start = [], [], 0.0, None, 0
    while True:
        began = time.monotonic()
        page = browse(cds, object_id, "BrowseDirectChildren", start, size, "")
        slowest = max(slowest, time.monotonic() - began)
        if "error" in page:
            return page
        total = page["TotalMatches"]
        if page["NumberReturned"] == 0:
            break
        ids += [o["id"] for o in page["objects"]]
        titles += [o["title"] for o in page["objects"]]
        start += page["NumberReturned"]
    return {"total": total, "returned": len(ids), "unique": len(set(ids)),
            "uniqueTitles": len(set(titles)), "slowestMs": round(slowest * 1000, 1)}


def main():
    interface, udn = sys.argv[1], sys.argv[2]
    _context, _control, device = find_device(interface, udn, 20)
    if device is None:
        print(json.dumps({"found": False}), flush=True)
        return 1
    print(json.dumps({"found": True, "name": device.get_friendly_name()}, ensure_ascii=False),
          flush=True)
    services = {CDS: device.get_service(CDS), CM: device.get_service(CM)}
    for line in sys.stdin:
        words = line.rstrip("\n").split("\t")
        if words[0] == "browse":
            answer = browse(services[CDS], words[1], words[2], int(words[3]), int(words[4]),
                            words[5] if len(words) > 5 else "")
        elif words[0] == "pages":
            answer = pages(services[CDS], words[1], int(words[2]))
        elif words[0] == "walk":
            objects = []
            walk(services[CDS], "0", objects)
            answer = {"objects": objects}
        elif words[0] == "call":
            outs = [(name, GObject.TYPE_STRING if kind == "s" else GObject.TYPE_UINT)
                    for name, kind in (w.split(":") for w in words[3:])]
            answer = call(services[CDS if words[1] == "cds" else CM], words[2], [], outs)
        else:
            answer = {"error": -1, "message": "unknown command"}
        print(json.dumps(answer, ensure_ascii=False), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
