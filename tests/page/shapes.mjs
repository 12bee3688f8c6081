// The game folders the page is tried on, written as the plug-in writes its
// files (docs/journal.md): one line per event, CR LF, texts in the game's
// code page (Windows-1252; every character used here is in Latin-1).
import fs from 'node:fs';
import path from 'node:path';

const ORIGIN = 100000;

function dateOf(start, gameTime) {
  const seconds = Date.parse(start.replace(' ', 'T') + 'Z') + Math.max(0, gameTime - ORIGIN) * 1000;
  return new Date(seconds).toISOString().slice(0, 19).replace('T', ' ');
}

export class Journal {
  constructor() { this.lines = []; this.start = null; }
  line(gameTime, kind, text) {
    const date = this.start ? dateOf(this.start, gameTime) : 'no start date';
    this.lines.push(`${date.padEnd(19)} | ${String(gameTime).padStart(8, '0')} | ${kind.padEnd(10)} | ${text}`);
  }
  scenario(start, name, gameTime = ORIGIN) {
    this.start = start;
    this.line(gameTime, 'SCENARIO', `Start=${start}, Scenario=${name}`);
  }
  message(t, text) { this.line(t, 'MESSAGE', text); }
  loss(t, group, unit) {
    this.line(t, 'SINKING', `${String(t).padStart(8, '0')}: GroupID=${group}, UnitID=${String(unit).padStart(2, '0')}, Sinking`);
  }
  factor(t, f) { this.line(t, 'TIMEFACTOR', `${String(t).padStart(8, '0')}: TimeFactor=${f}`); }
  failure(t, text) { this.line(t, 'FAILURE', text); }
  bytes() { return Buffer.from(this.lines.map((l) => l + '\r\n').join(''), 'latin1'); }
}

function report(starts, messages) {
  let text = '[Initial Start]\r\nActual Date=12/9/26 7:05:50\r\n\r\n[Session Start]\r\n';
  for (const [date, name] of starts)
    text += `Game Date=${date}\r\nGame Time=${ORIGIN}\r\nScenario=${name}\r\n`;
  text += '\r\n[log]\r\n';
  for (const [t, m] of messages) text += `${t}=${m}\r\n`;
  return Buffer.from(text, 'latin1');
}

// A small deterministic random source, so every run tries the same files.
function random(seed) {
  return () => {
    seed = (seed * 1103515245 + 12345) % 2147483648;
    return seed / 2147483648;
  };
}

export const GROUPS = ['Destroyer Squadron 10', 'Destroyer Squadron 4', 'Escadre légère', 'TF-16', 'TF-17',
  'Strike Group A', 'Strike Group B', 'Convoy PQ-7', '<b>Bold</b> & "Co"', 'Escort 5',
  'Submarine Flotilla with a very long name that no label could ever hold whole, Northern Waters',
  'Cruiser Division 5'];

// Two game days, 5,000 events: 60 losses in 12 groups (18 of them within
// one game minute), 40 time-factor changes over 7 levels, the last at the
// battle's last moment.
export function longBattle(journal, name = 'Carrier Battle/Scen#1') {
  const rnd = random(7);
  journal.scenario('1942-06-04 04:30:00', name);
  const end = ORIGIN + 2 * 86400;
  const events = [];
  for (let i = 0; i < 4899; i++) {
    const t = ORIGIN + 1 + Math.floor(rnd() * (end - ORIGIN - 2));
    events.push([t, 'm', `${GROUPS[i % 12]} reports contact bearing ${String(i % 360).padStart(3, '0')}, ${5 + (i % 190)} nm`]);
  }
  events.push([ORIGIN + 3600, 'm', 'Café au lait served on the bridge of the flagship']);
  for (let i = 0; i < 18; i++) events.push([ORIGIN + 90000 + i * 3, 'l', GROUPS[i % 4], i + 1]);
  // The rest every 4,000 s, kept clear of that minute.
  for (let i = 0; i < 42; i++) {
    const t = 2500 + i * 4000;
    events.push([ORIGIN + (t > 86000 && t < 94000 ? t + 6000 : t), 'l', GROUPS[i % 12], 20 + i]);
  }
  const levels = [1, 2, 4, 8, 15, 30, 60];
  for (let i = 0; i < 39; i++) events.push([ORIGIN + 4000 * i + 1000, 'f', levels[i % 7]]);
  events.push([end, 'f', 30]);
  events.sort((a, b) => a[0] - b[0]);
  for (const [t, kind, a, b] of events) {
    if (kind === 'm') journal.message(t, a);
    else if (kind === 'l') journal.loss(t, a, b);
    else journal.factor(t, a);
  }
}

function write(dir, files) {
  fs.rmSync(dir, {recursive: true, force: true});
  fs.mkdirSync(dir, {recursive: true});
  for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), bytes);
  return dir;
}

// Every shape, each in its own folder under `base`: name -> folder.
export function writeShapes(base) {
  const shapes = {};
  let j = new Journal();
  longBattle(j);
  shapes.long = write(path.join(base, 'long'), {'Tarveld.log': j.bytes()});

  j = new Journal();
  const starts = [];
  for (let b = 0; b < 20; b++) {
    const start = `1942-${String(1 + (b % 12)).padStart(2, '0')}-0${1 + (b % 9)} 06:00:00`;
    const name = `Convoy/Scen#${1 + (b % 7)}`;
    starts.push([start, name]);
    j.scenario(start, name);
    for (let i = 0; i < 30; i++) j.message(ORIGIN + 60 * i, `Battle ${b + 1} message ${i}`);
    for (let i = 0; i < 1 + (b % 4); i++) j.loss(ORIGIN + 100 + 200 * i, GROUPS[(b + i) % 6], i + 1);
    j.factor(ORIGIN + 30, 1 + (b % 3));
  }
  shapes.campaign = write(path.join(base, 'campaign'), {'Tarveld.log': j.bytes(), 'Tarveld.txt': report(starts, [])});

  j = new Journal();
  j.scenario('1942-08-07 05:00:00', 'Texts/<i>Scen</i>#2');
  j.message(ORIGIN + 10, 'Café crème: l’équipage arrive à Montréal');
  j.message(ORIGIN + 20, 'A'.repeat(1999) + '!');
  j.message(ORIGIN + 30, '<script>document.documentElement.setAttribute("data-pwned","1")</script>');
  j.message(ORIGIN + 40, '<img src=x onerror="document.documentElement.setAttribute(\'data-pwned\',\'2\')">');
  j.message(ORIGIN + 50, 'Z'.repeat(400 * 1024));
  j.loss(ORIGIN + 60, '<i>Group</i> é', 3);
  j.message(ORIGIN + 70, 'cafe without its accent, and CAFÉ in capitals');
  shapes.texts = write(path.join(base, 'texts'), {'Tarveld.log': j.bytes()});

  shapes.reportOnly = write(path.join(base, 'report-only'), {
    'Tarveld.txt': report([['1942-06-04 04:30:00', 'Carrier Battle/Scen#1']],
                          Array.from({length: 40}, (_, i) => [ORIGIN + 60 * i, `Report message ${i}`]))});

  j = new Journal();
  j.scenario('1942-06-04 10:30:00', 'Failing/Scen#1');
  const held = 'report: not written: another program held it (EFCreateError: Unable to create file "C:\\Games\\Tarveld.txt")';
  j.message(ORIGIN + 600, 'Before the failures');
  j.failure(ORIGIN + 720, held);
  j.failure(ORIGIN + 780, held);
  j.failure(ORIGIN + 840, held);
  j.failure(ORIGIN + 1020, 'report: written again');
  j.failure(ORIGIN + 1100, 'journal: not flushed: the disk was full (EWriteError: There is not enough space on the disk)');
  j.message(ORIGIN + 1200, 'After the failures');
  shapes.failures = write(path.join(base, 'failures'), {'Tarveld.log': j.bytes()});
  return shapes;
}
