#!/usr/bin/env python3
"""JSON Lines and the run's summary over every stored case: each case runs as it is
stored, again with --stats, whose lines must follow the same standard error and count
the records written, and again with --format=jsonl. Every line of the second run must parse as a JSON object of the listing's
kind whose fields are the record's, named as the kind names them, and whose texts are the
record's decoded (checked where the decoding is plain); standard error, the exit status
and the marker files must be those of the record run, and only a failed file's error
line may be missing from standard output.

    jsonl_cases.py VELTRAN CASES_DIR FIELD_NAMES
"""
import json, os, re, subprocess, sys, tempfile

veltran, cases, names_file = sys.argv[1:4]
names = {}
for line in open(names_file):
    if line.strip() and not line.startswith('#'):
        kind, *fields = line.split()
        names.setdefault(kind, []).append(fields)
plain = {'&amp;': '&', '&lt;': '<', '&gt;': '>', '&quot;': '"', '&apos;': "'", '&brvbar;': '|'}

def expand(path):
    data = open(path, 'rb').read()
    if not path.endswith('.gen'):
        return data
    out = []
    for line in data.decode('latin-1').split('\n'):
        if line:
            count, text = line.split(' ', 1)
            text = re.sub(r'\\(.)', lambda m: {'n': '\n', 'r': '\r', 't': '\t'}.get(m[1], m[1]), text)
            out.append(text * int(count))
    return ''.join(out).encode('latin-1')

def run(case, extra):
    with tempfile.TemporaryDirectory() as work:
        given = {}
        for f in os.listdir(case):
            name = f[:-4] if f.endswith('.gen') else f
            if '.' not in name:
                given[name] = expand(os.path.join(case, f)).decode('latin-1')
            elif not name.startswith('expected.'):
                open(os.path.join(work, name), 'wb').write(expand(os.path.join(case, f)))
        inputs = set(os.listdir(work))
        args = ' '.join(given['args'].split('\n'))
        script = '{ %s\nexec %s %s %s\n} >.out 2>.err </dev/null' % (
            given.get('setup', ''), veltran, extra, args)
        status = subprocess.run(['sh', '-c', script], cwd=work).returncode
        left = {f: open(os.path.join(work, f), 'rb').read() for f in sorted(os.listdir(work))
                if f not in inputs and os.path.isfile(os.path.join(work, f))}
        return status, left.pop('.out'), left.pop('.err'), left, args

failures = checked = 0
for case in sorted(os.listdir(cases)):
    path = os.path.join(cases, case)
    status, out, err, files, args = run(path, '')
    if re.search(r'(^| )(-e|--echo|-h|--help|--version)( |$)', args) or not args.strip():
        continue
    checked += 1
    problems = []
    sstatus, sout, serr, sfiles, _ = run(path, '--stats')
    lines = serr[len(err):].decode('utf-8', 'replace').splitlines()
    total = re.fullmatch(r'veltran: stats: total: (\d+) files?, (\d+) records, .* MB/s', lines[-1] if lines else '')
    each = [re.fullmatch(r'veltran: stats: .*: (\w+), (\d+) records, \d+ left out, \d+ cut, \d+ bytes, [\d.]+ s', l) for l in lines[:-1]]
    if status < 0:  # killed by a signal, which leaves no summary
        pass
    elif (sstatus, sout, sfiles) != (status, out, files) or not serr.startswith(err) or not total or not all(each):
        problems.append('--stats changed the run or printed %r' % lines)
    elif int(total[1]) != len(each) or int(total[2]) != sum(int(m[2]) for m in each) or (
            status != 2 and int(total[2]) != out.count(b'\nVELTRAN|') + out.startswith(b'VELTRAN|')):
        problems.append('--stats counted %s' % total[0])
    jstatus, jout, jerr, jfiles, _ = run(path, '--format=jsonl')
    # a common text longer than the record format's store is cut in records alone
    cut = re.compile(rb'veltran: [^\n]*: warning: \d+ fields? cut[^\n]*\n')
    if (jstatus, cut.sub(b'', jerr), jfiles) != (status, cut.sub(b'', err), files):
        problems.append('exit status, standard error or markers differ')
    if status == 2 or cut.search(err):  # the output stopped short, or holds cut fields
        if problems:
            failures += 1
            print('%s: %s' % (case, '; '.join(p[:300] for p in problems[:3])))
        continue
    records = [l for l in out.split(b'\n') if l.startswith(b'VELTRAN|')]
    rest = [l for l in out.split(b'\n')[:-1] if not l.startswith(b'VELTRAN|')]
    if any(not (l.startswith(b'error: error parsing file') or l in (b'Artists', b'Locations', b'Events')) for l in rest):
        problems.append('unexpected record output')
    lines = jout.split(b'\n')
    if lines[-1] != b'' or len(lines) - 1 != len(records):
        problems.append('%d JSON lines for %d records' % (len(lines) - 1, len(records)))
    for line, record in zip(lines, records):
        try:
            obj = json.loads(line.decode('utf-8'))
        except ValueError as e:
            problems.append('not JSON: %s' % e)
            break
        fields = record.split(b'|')[1:-1]
        kind = obj.pop('kind', None)
        if list(obj) not in names.get(kind, []):
            problems.append('%s fields named %s' % (kind, list(obj)))
            break
        for (name, value), text in zip(obj.items(), fields):
            if re.fullmatch(rb'[ -~]*', text) and not re.search(rb'&(?!(amp|lt|gt|quot|apos|brvbar);)', text):
                decoded = re.sub(r'&\w+;', lambda m: plain[m[0]], text.decode())
                if value != decoded:
                    problems.append('%s %r for %r' % (name, value, decoded))
    if problems:
        failures += 1
        print('%s: %s' % (case, '; '.join(p[:300] for p in problems[:3])))
print('JSON Lines and --stats: %d passed, %d failed' % (checked - failures, failures))
sys.exit(1 if failures else 0)
