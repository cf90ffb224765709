#!/usr/bin/env python3
"""--db against the records, on real SQLite database files.

    database_test.py VELTRAN CASES DATA

Every stored case (without a setup of its own) is run twice, writing records and
loading a database: the database must hold the records decoded to UTF-8, upserted in
order, and standard output only what is not loaded. The scenarios of
DATA/database-scenarios.json run veltran over the same database several times, the
last time under a condition (a full disk, a lock, a corrupt file...): a run that fails
must leave the database and the markers as they were. Last, --jobs=3 and --jobs=1 must
build the same database.
"""
import html.entities, json, os, re, resource, shutil, signal, sqlite3, subprocess, sys, tempfile

VELTRAN, CASES, DATA = sys.argv[1:4]
ACCENTS = 'agrave aacute acirc egrave eacute ecirc igrave iacute icirc ograve oacute ocirc ' \
          'ugrave uacute ucirc ccedil uuml auml ouml Uuml Auml Ouml'
NAMES = {'amp': '&', 'lt': '<', 'gt': '>', 'quot': '"', 'apos': "'", 'brvbar': '|',
         **{n: chr(html.entities.name2codepoint[n]) for n in ACCENTS.split()}}
# the tables by the number of fields a record has after its tag; the stamps' columns
TABLES = {12: ('artists', 2), 18: ('locations', 2), 20: ('locations', 2), 15: ('events', 1)}
failures = []


def reference(m):
    body = m.group(1)
    if len(m.group(0)) > 32 or body[0] != '#':
        return NAMES.get(body, m.group(0)) if len(m.group(0)) <= 32 else m.group(0)
    n = int(body[2:], 16) if body[1] == 'x' else int(body[1:])
    return chr(n) if 0 < n <= 0x10FFFF and not 0xD800 <= n <= 0xDFFF else '\ufffd'


def decoded(field, stamp=False):
    if not field:
        return None
    if stamp and field.isdigit() and int(field) < 2**63:
        return int(field)
    return re.sub(r'&(#x[0-9a-fA-F]+|#[0-9]+|[A-Za-z0-9]+);', reference,
                  field.decode('utf-8', 'replace'))


def number(field):
    digits = re.match(rb'[0-9]*', field).group(0)
    return min(int(digits or b'0') % 2**64, 2**63 - 1)


def load(model, stdout):
    """Applies the records of stdout to model: {table: {id: row}}, {event id: dates}."""
    tables, dates = model
    event = None
    for line in stdout.split(b'\n'):
        if not line.startswith(b'VELTRAN|'):
            continue
        f = line.split(b'|')[1:-1]
        table, stamp = TABLES[len(f)]
        if table == 'events':
            if event and f[0] == b'%s:%d' % (event[0], event[1]):
                event[1] += 1
                if event[2]:
                    dates[decoded(event[0])].append(tuple(map(decoded, f[12:])))
                continue
            event, f, when = [f[0], 1, False], f[:12], f[12:]
        width = 20 if table == 'locations' else len(f)
        row = [decoded(x, i in (stamp, stamp + 1)) for i, x in enumerate(f)]
        row += [None] * (width - len(row)) + [max(number(f[stamp]), number(f[stamp + 1]))]
        held = tables.setdefault(table, {}).get(row[0])
        if row[0] is not None and (held is None or row[-1] >= held[-1]):
            tables[table][row[0]] = tuple(row)
            if table == 'events':
                event[2] = True
                dates[row[0]] = [tuple(map(decoded, when))]


def dump(db):
    """The rows of every table and the marker files beside the database."""
    if not os.path.exists(db):
        return None
    with sqlite3.connect(db) as c:
        out = {t: sorted(c.execute('SELECT * FROM ' + t), key=repr) for (t,) in
               c.execute("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")}
    c.close()
    folder = os.path.dirname(db)
    out['markers'] = {m: open(os.path.join(folder, m), 'rb').read()
                      for m in sorted(os.listdir(folder)) if m.startswith('recent-')}
    return out


def model_dump(model):
    tables, dates = model
    out = {t: sorted(tables.get(t, {}).values(), key=repr) for t in ('artists', 'locations', 'events')}
    out['event_dates'] = sorted(((e, i) + d for e, ds in dates.items() for i, d in enumerate(ds)), key=repr)
    return out


def veltran(args, cwd, limit=None, user=None):
    def child():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        if limit:
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        if user:
            os.setgid(65534), os.setuid(65534)
    return subprocess.run([VELTRAN] + args, cwd=cwd, capture_output=True, preexec_fn=child)


def check(name, got, expected):
    if got != expected:
        failures.append(name)
        print(f'FAIL {name}\n  got:      {got!r:.2000}\n  expected: {expected!r:.2000}')


def records_and_rows(name, folder, args, model):
    """Runs args writing records, then into folder/t.db: same exit, rows as records."""
    markers = {m: open(os.path.join(folder, m), 'rb').read() for m in os.listdir(folder)
               if m.startswith('recent-')}
    records = veltran(args, folder)
    for m in [m for m in os.listdir(folder) if m.startswith('recent-')]:
        os.remove(os.path.join(folder, m))
    for m, text in markers.items():
        open(os.path.join(folder, m), 'wb').write(text)
    stored = veltran(args + ['--db=t.db'], folder)
    load(model, records.stdout)
    unloaded = [l for l in records.stdout.split(b'\n') if not l.startswith(b'VELTRAN|') and
                l not in (b'Artists', b'Locations', b'Events')]
    check(name + ': exit and standard output', (stored.returncode, stored.stdout.split(b'\n')),
          (records.returncode, unloaded))
    got = dump(os.path.join(folder, 't.db'))
    if got is None:
        return check(name + ': a database made', args, None)
    markers = got.pop('markers')
    # the records keep to one line and cut what outgrows their stores; the database
    # holds the texts whole, lines and all
    cut = b'cut to fit' in records.stderr
    shown = lambda v: (v[:1] if cut else v.replace('\n', ' ')) if isinstance(v, str) else v
    rows = lambda tables: {t: sorted((tuple(map(shown, r)) for r in rs), key=repr) for t, rs in tables.items()}
    check(name + ': rows', rows({t: r for t, r in got.items() if t != 'recent'}), rows(model_dump(model)))
    check(name + ': markers from the database', markers,
          {f'recent-{k}.{e}': t + b'\n' if e == 'txt' else b'<%s recent="%s"/>\n' % (k.encode(), t.replace(b'"', b'&quot;'))
           for k, s, t in got['recent'] for e in ('txt', 'xml')})
    return got


def stored_cases(scratch):
    for case in sorted(os.listdir(CASES)):
        given = os.path.join(CASES, case)
        if os.path.exists(os.path.join(given, 'setup')) or any(f.endswith('.gen') for f in os.listdir(given)):
            continue
        folder = os.path.join(scratch, case)
        shutil.copytree(given, folder, ignore=lambda d, names: [n for n in names if n.startswith('expected')])
        args = open(os.path.join(folder, 'args')).read().split()
        if args and not {'-h', '--help', '--version'} & set(args):
            records_and_rows(case, folder, args, ({}, {}))


CONDITIONS = {
    'none': lambda db: None,
    'corrupt': lambda db: open(db, 'wb').write(b'SQLite format 3\0' + b'\xff' * 4000),
    'foreign': lambda db: sqlite3.connect(db).execute('CREATE TABLE notes(x)'),
    'full-disk': lambda db: open(os.path.join(os.path.dirname(db), 'big.xml'), 'w').write(
        '<scheduledEvents>%s</scheduledEvents>' % ''.join(
            f'<eventDescription><id>{i}</id><creationDate>{i}</creationDate><eventSchedule>'
            '<eventScheduleDate><date>d</date></eventScheduleDate></eventSchedule></eventDescription>'
            for i in range(20000))),
    'version': lambda db: sqlite3.connect(db).execute('PRAGMA user_version=2'),
    'trigger': lambda db: sqlite3.connect(db).execute(
        "CREATE TRIGGER planted BEFORE INSERT ON events WHEN NEW.id='4' "
        "BEGIN SELECT RAISE(ABORT, 'planted failure'); END"),
    'read-only': lambda db: os.chmod(db, 0o444),
}


def scenarios(scratch):
    for s in json.load(open(os.path.join(DATA, 'database-scenarios.json'))):
        folder = os.path.join(scratch, re.sub(r'\W+', '-', s['name']))
        shutil.copytree(os.path.join(DATA, 'db'), folder)
        os.chmod(folder, 0o777)
        db, model = os.path.join(folder, 't.db'), ({}, {})
        for args in s['runs'][:-1]:
            records_and_rows(s['name'], folder, args, model)
        before = dump(db)
        condition = s.get('condition', 'none')
        if condition == 'foreign' and os.path.exists(db):
            os.remove(db)
        if condition in CONDITIONS:
            CONDITIONS[condition](db)
            before = dump(db) if condition != 'corrupt' else open(db, 'rb').read()
        holder = sqlite3.connect(db, isolation_level=None) if condition in ('reader', 'writer') else None
        if holder:
            holder.execute('BEGIN IMMEDIATE' if condition == 'writer' else 'BEGIN')
            seen = holder.execute('SELECT count(*) FROM event_dates').fetchone()
        if s.get('exit', 0) == 0:  # the newest of a kind never goes back
            after = records_and_rows(s['name'], folder, s['runs'][-1], model)
            check(s['name'] + ': newest kept', [r for r in (before or {}).get('recent', []) if r[1] > max(
                [a[1] for a in after['recent'] if a[0] == r[0]] or [0])], [])
        else:
            run = veltran(s['runs'][-1] + ['--db=t.db'], folder, s.get('file-size-limit'),
                          condition == 'read-only' and os.getuid() == 0)
            check(s['name'] + ': exit, stdout', (run.returncode, run.stdout), (s['exit'], b''))
            check(s['name'] + ': cause', re.search(s['stderr'], run.stderr.decode()) is not None
                  or run.stderr.decode(), True)
            check(s['name'] + ': database as before', open(db, 'rb').read() if condition == 'corrupt'
                  else dump(db), before)
        if holder:  # the reader still sees the database as it was before the load
            check(s['name'] + ': the reader\'s view', holder.execute(
                'SELECT count(*) FROM event_dates').fetchone(), seen)
            holder.close()


def same_with_jobs(scratch):
    folder = os.path.join(scratch, 'jobs')
    shutil.copytree(os.path.join(DATA, 'db'), folder)
    files = sorted(f for f in os.listdir(folder) if f.endswith('.xml'))
    for jobs in ('1', '3'):
        veltran(['--db=t%s.db' % jobs, '-j' + jobs] + files + files[::-1], folder)
    check('--jobs=3 and --jobs=1', dump(os.path.join(folder, 't3.db')), dump(os.path.join(folder, 't1.db')))


with tempfile.TemporaryDirectory() as scratch:
    os.chmod(scratch, 0o755)
    stored_cases(scratch)
    scenarios(scratch)
    same_with_jobs(scratch)
print(f'{len(failures)} failed' if failures else 'every check passed')
sys.exit(1 if failures else 0)
