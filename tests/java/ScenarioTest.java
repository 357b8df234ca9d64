import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Queue;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import java.util.stream.Stream;
import org.junit.jupiter.api.DynamicTest;
import org.junit.jupiter.api.TestFactory;

/**
 * Runs the shared scenarios (tests/scenarios, format in its README) through the real class. The
 * runner in tests/windows reads the same files, so the Linux and Windows libraries answer alike.
 * Each scenario runs in a scratch directory of its own and stops at its first wrong answer.
 */
class ScenarioTest {
  private final DatabaseMarshall db = TestDatabases.DB;
  private Path dir;
  private Integer idOffset;  // the process's ids minus the scenario's, from its first register

  @TestFactory
  Stream<DynamicTest> scenarios() throws IOException {
    try (Stream<Path> files = Files.list(Path.of(System.getenv("MERO_SCENARIOS")))) {
      return files.filter(p -> p.toString().endsWith(".scn")).sorted().toList().stream()
          .map(p -> DynamicTest.dynamicTest(p.getFileName().toString(), () -> run(p)));
    }
  }

  private void run(Path file) throws IOException {
    dir = TestDatabases.scratch(file.getFileName().toString());
    idOffset = null;
    List<String> lines = Files.readAllLines(file);
    for (int n = 0; n < lines.size(); n++) {
      int first = n;
      String text = lines.get(n).strip();
      while (text.endsWith("\\")) {
        text = text.substring(0, text.length() - 1) + " " + lines.get(++n).strip();
      }
      String failure = text.isEmpty() || text.startsWith("#") ? null : step(text);
      if (failure != null) {
        throw new AssertionError(file.getFileName() + ":" + (first + 1) + ": " + text + "\n  " + failure);
      }
    }
  }

  /** Runs one line; null when it went as expected, else what went wrong. */
  private String step(String text) {
    if (text.startsWith("threads ")) {
      return threads(text);
    }
    String[] w = text.split("\\s+");
    if (w[0].equals("file") || w[0].equals("put")) {
      return file(w, dir.resolve(w[1]));
    }
    List<Val> v = new Parser(text).all();
    String actual = call(w[0], v.subList(1, v.size() - 2), v.get(v.size() - 1));
    String wanted = show(v.get(v.size() - 1));
    return wanted.equals("*") || wanted.equals(actual) ? null : "got " + actual + ", expected " + wanted;
  }

  private static String file(String[] w, Path path) {
    String hex = String.join("", Arrays.copyOfRange(w, w[0].equals("put") ? 2 : 3, w.length)).toLowerCase();
    try {
      if (w[0].equals("put")) {
        Files.write(path, HexFormat.of().parseHex(hex));
        return null;
      }
      if (w[2].equals("absent")) {
        return Files.exists(path) ? "the file exists" : null;
      }
      String actual = Files.exists(path) ? HexFormat.of().formatHex(Files.readAllBytes(path)) : "(no file)";
      return actual.equals(hex) ? null : "file holds " + actual;
    } catch (IOException e) {
      throw new UncheckedIOException(e);
    }
  }

  /** threads T x N: CALL -> ANSWER; ... with $t the thread and $i the round. */
  private String threads(String text) {
    String[] head = text.substring(0, text.indexOf(':')).split("\\s+");
    String[] calls = text.substring(text.indexOf(':') + 1).split(";");
    Queue<String> failures = new ConcurrentLinkedQueue<>();
    List<Thread> threads = IntStream.range(0, Integer.parseInt(head[1])).mapToObj(t -> new Thread(() -> {
      for (int i = 0; i < Integer.parseInt(head[3]); i++) {
        for (String call : calls) {
          String one = call.strip().replace("$t", Integer.toString(t)).replace("$i", Integer.toString(i));
          try {
            String failure = step(one);
            if (failure != null) {
              failures.add(one + ": " + failure);
            }
          } catch (RuntimeException e) {
            failures.add(one + ": " + e);
          }
        }
      }
    })).toList();
    threads.forEach(Thread::start);
    threads.forEach(thread -> {
      try {
        thread.join();
      } catch (InterruptedException e) {
        throw new AssertionError(e);
      }
    });
    return failures.isEmpty() ? null : String.join("\n  ", failures);
  }

  private String call(String method, List<Val> a, Val expected) {
    int id = method.equals("register") ? 0 : Integer.parseInt(a.get(0).text()) + (idOffset == null ? 0 : idOffset);
    return switch (method) {
      case "register" -> {
        int got = db.register(a.get(0).isNull() ? null : dir.resolve(a.get(0).text()).toString());
        if (got > 0 && idOffset == null) {
          idOffset = got - Integer.parseInt(expected.text());
        }
        yield Integer.toString(got > 0 ? got - idOffset : got);
      }
      case "unregister" -> show(db.unregister(id));
      case "define" -> show(db.define(id, bools(a.get(1)), strings(a.get(2))));
      case "open" -> show(db.open(id, string(a.get(1)), a.get(2).text().equals("true")));
      case "close" -> show(db.close(id));
      case "numRecs" -> show(db.numRecs(id));
      case "getRecord" -> a.get(1).quoted() || !a.get(1).text().matches("-?\\d+")
          ? show(db.getRecord(id, string(a.get(1))))
          : show(db.getRecord(id, Integer.parseInt(a.get(1).text())));
      case "getPos" -> show(db.getPos(id, string(a.get(1))));
      case "find" -> show(db.find(id, bools(a.get(1)), strings(a.get(2))));
      case "write" -> show(db.write(id, strings(a.get(1))));
      case "updateRecord" -> show(db.updateRecord(id, Integer.parseInt(a.get(1).text()), strings(a.get(2))));
      case "deleteRecord" -> show(db.deleteRecord(id, Integer.parseInt(a.get(1).text())));
      default -> throw new IllegalArgumentException("no method " + method);
    };
  }

  /** A bare word, a quoted string or a list. */
  private record Val(String text, boolean quoted, List<Val> items) {
    boolean isNull() {
      return !quoted && "null".equals(text);
    }
  }

  private static String string(Val v) {
    return v.isNull() ? null : v.text();
  }

  private static String[] strings(Val v) {
    return v.isNull() ? null : v.items().stream().map(ScenarioTest::string).toArray(String[]::new);
  }

  private static boolean[] bools(Val v) {
    boolean[] out = v.isNull() ? null : new boolean[v.items().size()];
    for (int i = 0; out != null && i < out.length; i++) {
      out[i] = v.items().get(i).text().equals("true");
    }
    return out;
  }

  /** The one text form that answers and expectations are compared in. */
  private static String show(Object value) {
    if (value instanceof Val v) {
      return v.items() != null ? show(v.items().stream().map(ScenarioTest::show))
          : v.quoted() ? show(v.text()) : v.text();
    }
    if (value instanceof String[] values) {
      return show(Arrays.stream(values).map(ScenarioTest::show));
    }
    if (value instanceof int[] values) {
      return show(Arrays.stream(values).mapToObj(Integer::toString));
    }
    if (value instanceof String s && (s.equals("null") || !s.matches("[!#-+\\--Z^-~]+"))) {
      return s.chars().mapToObj(c -> c >= 0x20 && c < 0x7F && c != '"' && c != '\\' ? Character.toString(c)
          : String.format("\\u%04x", c)).collect(Collectors.joining("", "\"", "\""));
    }
    return String.valueOf(value);
  }

  private static String show(Stream<String> items) {
    return items.collect(Collectors.joining(",", "[", "]"));
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
      if (s.charAt(skip()) == '[') {
        List<Val> items = new ArrayList<>();
        for (i++; s.charAt(skip()) != ']'; i += s.charAt(skip()) == ',' ? 1 : 0) {
          items.add(next());
        }
        i++;
        return new Val(null, false, items);
      }
      if (s.charAt(i) == '"') {
        StringBuilder b = new StringBuilder();
        for (i++; s.charAt(i) != '"'; i++) {
          boolean unit = s.charAt(i) == '\\' && s.charAt(++i) == 'u';
          b.append(unit ? (char) Integer.parseInt(s.substring(i + 1, (i += 4) + 1), 16) : s.charAt(i));
        }
        int start = ++i;
        while (i < s.length() && (i == start ? s.charAt(i) == '*' : Character.isDigit(s.charAt(i)))) {
          i++;
        }
        return new Val(b.toString().repeat(i > start ? Integer.parseInt(s.substring(start + 1, i)) : 1), true, null);
      }
      int start = i;
      while (i < s.length() && !Character.isWhitespace(s.charAt(i)) && ",[]\"".indexOf(s.charAt(i)) < 0) {
        i++;
      }
      return new Val(s.substring(start, i), false, null);
    }
  }
}
