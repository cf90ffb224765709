#!/usr/bin/env python3
"""Writes a generated export to standard output, for timing the converter.

    gen_export.py artists|locations|events SIZE_MB [SEED [SHAPE]]
    gen_export.py longtext SIZE_MB        one artist whose description is SIZE_MB of text
    gen_export.py deep LEVELS             one artist holding LEVELS nested elements
    gen_export.py wide CHILDREN           an artists root with CHILDREN small artists

The regular kinds look like real exports: an XML declaration, two-blank indentation,
accented UTF-8 names, &amp; in some values, an occasional | in titles and
descriptions, optional elements missing, contacts present or not, mobile (06) and
fixed phones, one to five schedule dates per event, artist style runs and
descriptions over several lines. The same arguments always give the same bytes.
SIZE_MB counts 2^20 bytes; a regular export ends with the record that reaches it.
The last three kinds are the hostile shapes that check the converter does no
quadratic work.

SHAPE is how the export is written, as the tools that users export from write it:
  tags        (the default) the indented export above: many short elements
  text        the same with long descriptions over many lines, and descriptions
              the listing does not read in locations and events
  cms         a content-management system's: CRLF line ends, two attributes on each
              item and on some fields, descriptions as HTML in CDATA sections, a
              comment every few items
  minified    no white space between tags at all, every text on one line
  entities    text dense with references: &amp;, &lt;, &quot;, character references
              and the accented-letter names the library knows (declared in the
              document type, as an XML reader requires)
  attributes  one to three attributes on every element
  nested      in every item, a few branches of deeply nested elements the listing
              never reads
"""

import random
import re
import sys
import unicodedata

MB = 1 << 20
DECLARATION = '<?xml version="1.0" encoding="UTF-8"?>\n'

FIRST_NAMES = ["Zoé", "Anaïs", "Jérôme", "Björn", "Çağla", "Noël", "Léa", "Mathis",
               "François", "Inès", "Hélène", "Joël", "Maëlle", "Søren", "Ana", "Tomás"]
LAST_NAMES = ["Marchand", "Lefèvre", "Müller", "García", "Brontë", "Dubois", "Østergaard",
              "Nakamura", "Rousseau", "Peña", "Mercier", "Girard", "Šimek", "Fabre"]
BANDS = ["Collective", "Quartet", "Trio", "Orchestra", "Sound System", "Ensemble", "Brass Band"]
STYLES = ["Chanson", "Pop", "Rock", "Jazz", "Électro", "Hip-hop", "Musique du monde",
          "Rhythm &amp; Blues", "Classique", "Reggae", "Folk", "Métal"]
CITIES = [("Lyon", "69"), ("Besançon", "25"), ("Nîmes", "30"), ("Saint-Étienne", "42"),
          ("Genève", "12"), ("Liège", "40"), ("Montréal", "H2"), ("Köln", "50"),
          ("Orléans", "45"), ("Périgueux", "24")]
COUNTRIES = {"Genève": "Suisse", "Liège": "Belgique", "Montréal": "Canada", "Köln": "Deutschland"}
STREETS = ["rue de la République", "avenue Jean-Jaurès", "place Bellecour", "quai Saint-Antoine",
           "boulevard des Belges", "rue Mercière", "chemin du Moulin"]
VENUES = ["Salle", "Théâtre", "Le Club", "Espace", "La Cave", "Auditorium", "Café-concert"]
WORDS = ["soirée", "concert", "with", "the", "orchestra", "and", "guests", "première",
         "acoustic", "set", "live", "tournée", "d'automne", "festival", "nuit", "électro",
         "chanson", "danse", "création", "spectacle", "jeune", "public", "cinéma", "en",
         "plein", "air", "musique", "répertoire", "&amp;", "album", "nouveau", "scène"]
EVENT_TYPES = [(1, "Concert"), (2, "Clubbing"), (3, "Meeting"), (4, "Dance"),
               (5, "Young audience"), (6, "Cinema"), (7, "Theatre")]


class Dice:
    """Draws built on random() alone, whose sequence is fixed for a seed."""

    def __init__(self, seed, shape="tags"):
        self.rng = random.Random(seed)
        self.shape = shape

    def below(self, n):
        return int(self.rng.random() * n)

    def chance(self, percent):
        return self.rng.random() * 100 < percent

    def pick(self, items):
        return items[self.below(len(items))]

    def stamp(self):
        return str(1400000000 + self.below(200000000))


def leaf(out, depth, name, value):
    out.append(f'{"  " * depth}<{name}>{value}</{name}>\n')


def leaf_on_own_line(out, depth, name, lines):
    """Text on indented lines of its own: its text ends with a line feed and blanks."""
    pad = "  " * depth
    inner = "".join(f"{pad}  {line}\n" for line in lines)
    out.append(f"{pad}<{name}>\n{inner}{pad}</{name}>\n")


def person(d):
    if d.chance(15):
        name = f"The {d.pick(LAST_NAMES)} {d.pick(BANDS)}"
    else:
        name = f"{d.pick(FIRST_NAMES)} {d.pick(LAST_NAMES)}"
    if d.chance(8):
        name += f" &amp; {d.pick(FIRST_NAMES)}"
    return name


def slug(text, n):
    plain = unicodedata.normalize("NFKD", text.replace("&amp;", "and")).encode("ascii", "ignore").decode()
    keep = "".join(c.lower() if c.isalnum() else "-" for c in plain)
    return "-".join(p for p in keep.split("-") if p) + f"-{n}"


def phrase(d, low, high):
    return " ".join(d.pick(WORDS) for _ in range(low + d.below(high - low + 1)))


def description_lines(d):
    if d.shape == "text":
        lines = [phrase(d, 8, 40).capitalize() + "." for _ in range(3 + d.below(10))]
    else:
        lines = [phrase(d, 4, 12).capitalize() + "." for _ in range(1 + d.below(4))]
    if d.chance(5):
        lines[-1] += f" {phrase(d, 1, 3)} | {phrase(d, 1, 3)}."
    return lines


def html(d, lines):
    """Lines as a CMS's editor writes them: paragraphs, a link, a break, raw & and |."""
    parts = []
    for line in lines:
        if d.chance(20):
            line = f'{line} <a href="https://tickets.example.org/?id={d.below(9999)}&src=cms">Tickets</a>'
        if d.chance(15):
            line = line.replace("&amp;", "&") + "<br/>"
        parts.append(f"<p>{line}</p>")
    return "\n".join(parts)


def put_description(out, d, depth=2):
    lines = description_lines(d)
    if d.shape == "cms":
        leaf(out, depth, "description", f"<![CDATA[{html(d, lines)}]]>")
    elif d.chance(50):
        leaf_on_own_line(out, depth, "description", lines)
    else:  # first line inline, the others indented below it
        first, rest = lines[0], "".join(f"\n      {line}" for line in lines[1:])
        leaf(out, 2, "description", first + rest)


def put_style_run(out, d):
    count = d.below(5)
    for k in range(count):
        name = "artistStyle" if k == 0 or d.chance(92) else d.pick(["ArtistStyle", "artiststyle"])
        if d.chance(4):
            out.append(f"    <{name}><id>{d.below(40)}</id></{name}>\n")   # no label
        elif d.chance(3):
            out.append(f"    <{name}><id>{d.below(40)}</id><label></label></{name}>\n")
        else:
            out.append(f"    <{name}><id>{d.below(40)}</id><label>{d.pick(STYLES)}</label></{name}>\n")
        if k + 1 < count and d.chance(3):
            leaf(out, 2, "genreNote", phrase(d, 1, 2))   # interrupts the run


def artist(d, n):
    out = ["  <artist>\n"]
    leaf(out, 2, "id", n)
    name = person(d)
    if d.chance(1):
        pass                                   # no name: not written
    elif d.chance(5):
        leaf_on_own_line(out, 2, "name", [name])
    else:
        leaf(out, 2, "name", name)
    leaf(out, 2, "creationDate", d.stamp())
    if d.chance(70):
        leaf(out, 2, "modificationDate", d.stamp())
    s = slug(name, n)
    if d.chance(80):
        leaf(out, 2, "picture", f"https://media.example.org/artists/{n}.jpg")
    if d.chance(60):
        leaf(out, 2, "thumbnail", f"https://media.example.org/artists/{n}-small.jpg")
    if d.chance(55):
        query = "?lang=fr&amp;ref=listing" if d.chance(20) else ""
        leaf(out, 2, "website", f"https://{s}.example.org/{query}")
    if d.chance(40):
        leaf(out, 2, "facebookFanPage", s.replace("-", ""))
    if d.chance(35):
        leaf(out, 2, "twitterID", s.replace("-", "_")[:15])
    if d.chance(25):
        leaf(out, 2, "soundCloudChannel", s)
    put_style_run(out, d)
    if d.chance(85):
        put_description(out, d)
    elif d.chance(30):
        out.append("    <description></description>\n")
    out.append("  </artist>\n")
    return "".join(out)


def phone(d, mobile):
    prefix = "06" if mobile else d.pick(["01", "02", "03", "04", "05", "09"])
    return prefix + "".join(str(d.below(10)) for _ in range(8))


def put_contact(out, d, depth, full):
    pad = "  " * depth
    out.append(f"{pad}<contact>\n")
    city, zip_start = d.pick(CITIES)
    if d.chance(85):
        leaf(out, depth + 1, "email", f"billetterie{d.below(1000)}@{slug(city, zip_start)}.example.org")
    if full:
        leaf(out, depth + 1, "addressLine1", f"{1 + d.below(150)} {d.pick(STREETS)}")
        if d.chance(30):
            leaf(out, depth + 1, "addressLine2", f"Bâtiment {d.pick('ABCDE')}, {d.below(6)}e étage")
        leaf(out, depth + 1, "zipCode", f"{zip_start}{d.below(1000):03d}")
    leaf(out, depth + 1, "city", city)
    if d.chance(90):
        leaf(out, depth + 1, "country", COUNTRIES.get(city, "France"))
    if full:
        if d.chance(90):
            leaf(out, depth + 1, "phone1", phone(d, d.chance(40)))
        if d.chance(45):
            leaf(out, depth + 1, "phone2", phone(d, d.chance(50)))
        if d.chance(85):
            leaf(out, depth + 1, "lattitude", f"{43 + d.below(8)}.{d.below(1000000):06d}")
            leaf(out, depth + 1, "longitude", f"{d.below(8)}.{d.below(1000000):06d}")
    out.append(f"{pad}</contact>\n")


def venue_name(d):
    return f"{d.pick(VENUES)} {d.pick(LAST_NAMES)}" + (" &amp; Cie" if d.chance(5) else "")


def location(d, n):
    out = ["  <location>\n"]
    leaf(out, 2, "id", n)
    if not d.chance(1):
        leaf(out, 2, "name", venue_name(d))
    leaf(out, 2, "creationDate", d.stamp())
    if d.chance(60):
        leaf(out, 2, "modificationDate", d.stamp())
    if d.chance(70):
        leaf(out, 2, "logo", f"https://media.example.org/places/{n}.png")
    if d.chance(50):
        leaf(out, 2, "logoThumbnail", f"https://media.example.org/places/{n}-small.png")
    if d.chance(60):
        leaf(out, 2, "website", f"https://place-{n}.example.org/")
    if d.chance(35):
        leaf(out, 2, "facebookFanPage", f"place{n}")
    if d.chance(20):
        leaf(out, 2, "twitterID", f"place_{n}")
    if d.chance(10):
        leaf(out, 2, "soundCloudChannel", f"place-{n}")
    if d.chance(75):
        put_contact(out, d, 2, True)
    elif d.chance(20):   # coordinates outside contact are not read
        leaf(out, 2, "lattitude", f"45.{d.below(1000000):06d}")
    if d.shape in ("text", "cms"):   # not read
        put_description(out, d)
    out.append("  </location>\n")
    return "".join(out)


def title(d):
    text = phrase(d, 2, 6).capitalize()
    if d.chance(6):
        text = f"{person(d)} | {text}"
    return text


def put_schedule(out, d):
    out.append("    <eventSchedule>\n")
    month, day = 1 + d.below(12), 1 + d.below(20)
    for k in range(1 + d.below(5)):
        start = f"{18 + d.below(5)}:{d.pick(['00', '30'])}"
        end = f"<endHour>{d.pick(['22:00', '23:00', '23:30', '01:00', '05:00'])}</endHour>" if d.chance(80) else ""
        out.append(f"      <eventScheduleDate><date>2016-{month:02d}-{day + k:02d}</date>"
                   f"<startHour>{start}</startHour>{end}</eventScheduleDate>\n")
    if d.chance(3):
        leaf(out, 3, "note", phrase(d, 1, 3))   # passed over
    out.append("    </eventSchedule>\n")


def event(d, n):
    out = ["  <eventDescription>\n"]
    if d.chance(99):
        leaf(out, 2, "id", n)
    leaf(out, 2, "creationDate", d.stamp())
    if d.chance(60):
        leaf(out, 2, "modificationDate", d.stamp())
    if d.chance(85):
        out.append("    <artist>\n")
        leaf(out, 3, "artistId", d.below(50000))
        leaf(out, 3, "name", person(d))
        out.append("    </artist>\n")
    if d.chance(90):
        out.append("    <location>\n")
        leaf(out, 3, "id", d.below(8000))
        leaf(out, 3, "name", venue_name(d))
        if d.chance(80):
            put_contact(out, d, 3, False)
        out.append("    </location>\n")
    if d.chance(95):
        out.append("    <event>\n")
        if d.chance(10):
            leaf_on_own_line(out, 3, "title", [title(d)])
        else:
            leaf(out, 3, "title", title(d))
        if d.chance(70):
            leaf(out, 3, "picture", f"https://media.example.org/events/{n}.jpg")
        if d.chance(95):
            number, label = d.pick(EVENT_TYPES)
            out.append(f"      <eventType><id>{number}</id><label>{label}</label></eventType>\n")
        if d.shape in ("text", "cms"):   # not read
            put_description(out, d, 3)
        out.append("    </event>\n")
    if d.chance(97):
        put_schedule(out, d)
    out.append("  </eventDescription>\n")
    return "".join(out)


# The accented letters the library converts to and from entity names.
NAMED = {"à": "agrave", "á": "aacute", "â": "acirc", "è": "egrave", "é": "eacute",
         "ê": "ecirc", "ì": "igrave", "í": "iacute", "î": "icirc", "ò": "ograve",
         "ó": "oacute", "ô": "ocirc", "ù": "ugrave", "ú": "uacute", "û": "ucirc",
         "ç": "ccedil", "ü": "uuml", "ä": "auml", "ö": "ouml", "Ü": "Uuml",
         "Ä": "Auml", "Ö": "Ouml"}
DOCTYPE = "".join(f'<!ENTITY {name} "&#{ord(c)};">\n' for c, name in NAMED.items())
ATTRIBUTES = [("lang", ["fr", "en", "de"]), ("status", ["published", "draft", "archived"]),
              ("source", ["cms", "import &amp; sync", "api/v2"]), ("rev", None),
              ("class", ["a > b", "main", "x-list"])]
CMS_FIELDS = re.compile(r"<(name|title|picture|website|logo|thumbnail|city|date)>")
START_TAG = re.compile(r"<([A-Za-z]+)>")
TEXT = re.compile(r">([^<]+)<")
BETWEEN_TAGS = re.compile(r">\s+<")
LEADING = re.compile(r">\s+(?=[^<\s])")
TRAILING = re.compile(r"(?<=[^>\s])\s+<")


def attributes(d, count):
    out = ""
    for name, values in ATTRIBUTES[:count]:
        out += f' {name}="{d.pick(values) if values else d.below(100000)}"'
    return out


def reference(d, c):
    if c in NAMED and d.chance(50):
        return f"&{NAMED[c]};"
    return f"&#{ord(c)};" if d.chance(50) else f"&#x{ord(c):X};"


def dense_text(d, text):
    """Every letter outside ASCII as a reference, quotation marks and angle brackets
    around some words, and & more often."""
    text = "".join(reference(d, c) if ord(c) > 127 else c for c in text)
    text = text.replace("'", "&apos;").replace(" and ", " &amp; ").replace(" with ", " &amp; ")
    if d.chance(30):
        text = re.sub(r" (\w+) ", r" &quot;\1&quot; ", text, count=1)
    if d.chance(30):
        text = re.sub(r" (\w+) ", r" &lt;\1&gt; ", text, count=1)
    return text


def nest(d, pad):
    """A branch of LEVELS nested elements with a word at the bottom, indented."""
    levels = 8 + d.below(40)
    names = [d.pick(["meta", "group", "node", "ext", "data"]) for _ in range(levels)]
    opening = "".join(f"{pad}{'  ' * i}<{n}>\n" for i, n in enumerate(names))
    closing = "".join(f"{pad}{'  ' * i}</{n}>\n" for i, n in reversed(list(enumerate(names))))
    return f"{opening}{pad}{'  ' * levels}<value>{d.pick(WORDS)}</value>\n{closing}"


def shaped(d, n, item):
    """An item as the chosen shape writes it; the item comes indented, one tag a line."""
    if d.shape == "cms":
        item = item.replace(">", f' id="{n}" status="{d.pick(ATTRIBUTES[1][1])}">', 1)
        item = CMS_FIELDS.sub(lambda m: f"<{m[1]}{attributes(d, 2)}>" if d.chance(40) else m[0], item)
        if n % 4 == 0:
            item = f"  <!-- exported by cms, item {n}, revision {d.below(50)} -->\n{item}"
        return item.replace("\n", "\r\n")
    if d.shape == "minified":
        return TRAILING.sub("<", LEADING.sub(">", BETWEEN_TAGS.sub("><", item.strip()))).replace("\n", " ")
    if d.shape == "entities":
        return TEXT.sub(lambda m: f">{dense_text(d, m[1])}<", item)
    if d.shape == "attributes":
        return START_TAG.sub(lambda m: f"<{m[1]}{attributes(d, 1 + d.below(3))}>", item)
    if d.shape == "nested":
        close = item.rindex("</")   # the item's end tag
        branches = "".join(nest(d, "    ") for _ in range(1 + d.below(3)))
        return item[:close] + branches + item[close:]
    return item


SHAPES = ["tags", "text", "cms", "minified", "entities", "attributes", "nested"]
REGULAR = {"artists": ("artists", artist), "locations": ("locations", location),
           "events": ("scheduledEvents", event)}


def write_regular(out, kind, size_mb, seed, shape):
    root, record = REGULAR[kind]
    d = Dice(seed, shape)
    target = int(size_mb * MB)
    head = DECLARATION + f"<{root}>\n"
    if shape == "cms":
        head = DECLARATION.replace("\n", "\r\n") + f'<{root} version="2" generator="cms">\r\n'
    elif shape == "minified":
        head = DECLARATION.strip() + f"<{root}>"
    elif shape == "entities":
        head = DECLARATION + f"<!DOCTYPE {root} [\n{DOCTYPE}]>\n<{root}>\n"
    elif shape == "attributes":
        head = DECLARATION + f'<{root} count="0" exported="2016-06-01">\n'
    head = head.encode()
    tail = f"</{root}>" + ("" if shape == "minified" else "\r\n" if shape == "cms" else "\n")
    out.write(head)
    written, n, chunk = len(head), 0, []
    while written < target:
        n += 1
        data = shaped(d, n, record(d, n)).encode()
        chunk.append(data)
        written += len(data)
        if len(chunk) == 512:
            out.write(b"".join(chunk))
            chunk = []
    out.write(b"".join(chunk))
    out.write(tail.encode())


def write_long_text(out, size_mb):
    """One artist whose description holds size_mb of words, 8 to 80 per line."""
    d = Dice(7)
    out.write((DECLARATION + "<artists>\n  <artist>\n    <id>1</id>\n    <name>Zoé Marchand</name>\n"
               "    <description>").encode())
    target, written, chunk = int(size_mb * MB), 0, []
    while written < target:
        line = (phrase(d, 8, 80) + "\n").encode()
        chunk.append(line)
        written += len(line)
        if len(chunk) == 1024:
            out.write(b"".join(chunk))
            chunk = []
    out.write(b"".join(chunk))
    out.write(b"</description>\n  </artist>\n</artists>\n")


def write_deep(out, levels):
    out.write((DECLARATION + "<artists>\n<artist><name>x</name>\n").encode())
    step = 10000
    for done in range(0, levels, step):
        out.write(b"<a>" * min(step, levels - done) + b"\n")
    for done in range(0, levels, step):
        out.write(b"</a>" * min(step, levels - done) + b"\n")
    out.write(b"</artist>\n</artists>\n")


def write_wide(out, children):
    out.write((DECLARATION + "<artists>\n").encode())
    step = 10000
    for first in range(1, children + 1, step):
        last = min(first + step, children + 1)
        out.write("".join(f"<artist><id>{i}</id><name>a{i}</name></artist>\n"
                          for i in range(first, last)).encode())
    out.write(b"</artists>\n")


def usage():
    sys.stderr.write(__doc__.split("\n\n")[1] + "\n")
    return 2


def main(argv):
    if len(argv) < 3:
        return usage()
    kind = argv[1]
    try:
        amount = float(argv[2])
        seed = int(argv[3]) if len(argv) > 3 else 1
    except ValueError:
        return usage()
    shape = argv[4] if len(argv) > 4 else "tags"
    if shape not in SHAPES or len(argv) > 5:
        return usage()
    out = sys.stdout.buffer
    if kind in REGULAR:
        write_regular(out, kind, amount, seed, shape)
    elif kind == "longtext":
        write_long_text(out, amount)
    elif kind == "deep":
        write_deep(out, int(amount))
    elif kind == "wide":
        write_wide(out, int(amount))
    else:
        return usage()
    out.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
