import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Queue;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.DynamicTest;
import org.junit.jupiter.api.TestFactory;

/**
 * Runs the shared scenarios (tests/scenarios, format in its README) through the real class. The
 * native runner in tests/windows reads the same files, so both libraries answer alike.
 */
class ScenarioTest {
  @TestFactory
  Stream<DynamicTest> scenarios() throws Exception {
    Path dir = Path.of(System.getenv("MERO_SCENARIOS"));
    try (Stream<Path> files = Files.list(dir)) {
      return files.filter(p -> p.toString().endsWith(".scn")).sorted().toList().stream()
          .map(p -> DynamicTest.dynamicTest(p.getFileName().toString(), () -> new Run(p).all()));
    }
  }

  /** A parsed value: a bare word, a quoted string, or a list. */
  private record Val(String text, boolean quoted, List<Val> items) {
    boolean isNull() {
      return !quoted && "null".equals(text);
    }
  }

  private static final class Parser {
    private final String s;
    private int i;

    Parser(String s) {
      this.s = s;
    }

    List<Val> all() {
      List<Val> out = new ArrayList<>();
      while (skip() < s.length()) {
        out.add(next());
      }
      return out;
    }

    private int skip() {
      while (i < s.length() && Character.isWhitespace(s.charAt(i))) {
        i++;
      }
      return i;
    }

    private Val next() {
      skip();
      char c = s.charAt(i);
      if (c == '[') {
        List<Val> items = new ArrayList<>();
        i++;
        if (s.charAt(skip()) == ']') {
          i++;
          return new Val(null, false, items);
        }
        do {
          items.add(next());
        } while (s.charAt(skip()) != ']' && s.charAt(i++) == ',');
        i++;
        return new Val(null, false, items);
      }
      if (c == '"') {
        StringBuilder b = new StringBuilder();
        for (i++; s.charAt(i) != '"'; i++) {
          char d = s.charAt(i);
          if (d == '\\' && s.charAt(++i) == 'u') {
            b.append((char) Integer.parseInt(s.substring(i + 1, i + 5), 16));
            i += 4;
          } else {
            b.append(s.charAt(i));
          }
        }
        int start = ++i;
        if (i < s.length() && s.charAt(i) == '*') {
          while (++i < s.length() && Character.isDigit(s.charAt(i))) {}
          return new Val(b.toString().repeat(Integer.parseInt(s.substring(start + 1, i))), true, null);
        }
        return new Val(b.toString(), true, null);
      }
      int start = i;
      while (i < s.length() && !Character.isWhitespace(s.charAt(i)) && ",[]\"".indexOf(s.charAt(i)) < 0) {
        i++;
      }
      return new Val(s.substring(start, i), false, null);
    }
  }

  /** One scenario in a scratch directory of its own. */
  private static final class Run {
    private final DatabaseMarshall db = TestDatabases.DB;
    private final Path file;
    private final Path dir;
    private Integer idOffset;  // process id minus scenario id, from the first register

    Run(Path file) throws Exception {
      this.file = file;
      this.dir = TestDatabases.scratch(file.getFileName().toString());
    }

    void all() throws Exception {
      List<String> lines = Files.readAllLines(file);
      for (int n = 0; n < lines.size(); n++) {
        StringBuilder line = new StringBuilder(lines.get(n).strip());
        int first = n;
        while (line.toString().endsWith("\\")) {
          line.setLength(line.length() - 1);
          line.append(' ').append(lines.get(++n).strip());
        }
        String text = line.toString();
        if (text.isEmpty() || text.startsWith("#")) {
          continue;
        }
        String failure = step(text);
        if (failure != null) {
          throw new AssertionError(file.getFileName() + ":" + (first + 1) + ": " + text + "\n  " + failure);
        }
      }
    }

    /** Runs one line; null when it went as expected, else what went wrong. */
    private String step(String text) throws Exception {
      if (text.startsWith("threads ")) {
        return threads(text);
      }
      String[] w = text.split("\\s+");
      if (w[0].equals("file") || w[0].equals("put")) {
        Path path = dir.resolve(w[1]);
        String hex = String.join("", Arrays.copyOfRange(w, w[0].equals("put") ? 2 : 3, w.length)).toLowerCase();
        if (w[0].equals("put")) {
          Files.write(path, HexFormat.of().parseHex(hex));
          return null;
        }
        if (w[2].equals("absent")) {
          return Files.exists(path) ? "the file exists" : null;
        }
        String actual = Files.exists(path) ? HexFormat.of().formatHex(Files.readAllBytes(path)) : "(no file)";
        return actual.equals(hex) ? null : "file holds " + actual;
      }
      List<Val> v = new Parser(text).all();
      List<Val> args = v.subList(1, v.size() - 2);
      Val expected = v.get(v.size() - 1);
      String actual = call(w[0], args, expected);
      String wanted = show(expected);
      return wanted.equals("*") || wanted.equals(actual) ? null : "got " + actual + ", expected " + wanted;
    }

    private String threads(String text) throws Exception {
      String[] head = text.substring(0, text.indexOf(':')).split("\\s+");  // threads T x N
      String[] calls = text.substring(text.indexOf(':') + 1).split(";");
      int rounds = Integer.parseInt(head[3]);
      Queue<String> failures = new ConcurrentLinkedQueue<>();
      List<Thread> threads = new ArrayList<>();
      for (int t = 0; t < Integer.parseInt(head[1]); t++) {
        String thread = Integer.toString(t);
        threads.add(new Thread(() -> {
          for (int i = 0; i < rounds; i++) {
            for (String call : calls) {
              String one = call.strip().replace("$t", thread).replace("$i", Integer.toString(i));
              try {
                String failure = step(one);
                if (failure != null) {
                  failures.add(one + ": " + failure);
                }
              } catch (Exception e) {
                failures.add(one + ": " + e);
              }
            }
          }
        }));
      }
      threads.forEach(Thread::start);
      for (Thread thread : threads) {
        thread.join();
      }
      return failures.isEmpty() ? null : String.join("\n  ", failures);
    }

    private String call(String method, List<Val> a, Val expected) {
      return switch (method) {
        case "register" -> {
          Val name = a.get(0);
          int id = db.register(name.isNull() ? null : dir.resolve(name.text()).toString());
          if (id > 0 && idOffset == null) {
            idOffset = id - Integer.parseInt(expected.text());
          }
          yield Integer.toString(id > 0 ? id - idOffset : id);
        }
        case "unregister" -> show(db.unregister(id(a)));
        case "define" -> show(db.define(id(a), bools(a.get(1)), strings(a.get(2))));
        case "open" -> show(db.open(id(a), string(a.get(1)), a.get(2).text().equals("true")));
        case "close" -> show(db.close(id(a)));
        case "numRecs" -> show(db.numRecs(id(a)));
        case "getRecord" -> a.get(1).quoted() || !a.get(1).text().matches("-?\\d+")
            ? show(db.getRecord(id(a), string(a.get(1))))
            : show(db.getRecord(id(a), Integer.parseInt(a.get(1).text())));
        case "getPos" -> show(db.getPos(id(a), string(a.get(1))));
        case "find" -> show(db.find(id(a), bools(a.get(1)), strings(a.get(2))));
        case "write" -> show(db.write(id(a), strings(a.get(1))));
        case "updateRecord" -> show(db.updateRecord(id(a), Integer.parseInt(a.get(1).text()), strings(a.get(2))));
        case "deleteRecord" -> show(db.deleteRecord(id(a), Integer.parseInt(a.get(1).text())));
        default -> throw new IllegalArgumentException("no method " + method);
      };
    }

    private int id(List<Val> a) {
      return Integer.parseInt(a.get(0).text()) + (idOffset == null ? 0 : idOffset);
    }
  }

  private static String string(Val v) {
    return v.isNull() ? null : v.text();
  }

  private static String[] strings(Val v) {
    return v.isNull() ? null : v.items().stream().map(ScenarioTest::string).toArray(String[]::new);
  }

  private static boolean[] bools(Val v) {
    if (v.isNull()) {
      return null;
    }
    boolean[] out = new boolean[v.items().size()];
    for (int i = 0; i < out.length; i++) {
      out[i] = v.items().get(i).text().equals("true");
    }
    return out;
  }

  /** The one text form that both answers and expectations are compared in. */
  private static String show(Object value) {
    if (value instanceof Val v) {
      return v.items() != null ? v.items().stream().map(ScenarioTest::show).collect(Collectors.joining(",", "[", "]"))
          : v.quoted() ? show(v.text()) : v.text();
    }
    if (value instanceof String[] values) {
      return Arrays.stream(values).map(ScenarioTest::show).collect(Collectors.joining(",", "[", "]"));
    }
    if (value instanceof int[] values) {
      return Arrays.stream(values).mapToObj(Integer::toString).collect(Collectors.joining(",", "[", "]"));
    }
    if (value instanceof String s && (s.isEmpty() || s.equals("null") || !s.matches("[!#-+\\--Z^-~]+"))) {
      StringBuilder b = new StringBuilder("\"");
      s.chars().forEach(c -> b.append(c >= 0x20 && c < 0x7F && c != '"' && c != '\\' ? Character.toString(c)
          : String.format("\\u%04x", c)));
      return b.append('"').toString();
    }
    return String.valueOf(value);
  }
}
