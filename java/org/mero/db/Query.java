package org.mero.db;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * A search: one term per field, all of which a record must match. Letters A to Z match their lower
 * case; other characters match only themselves. Instances are immutable and can be reused.
 *
 * <pre>{@code
 * Query q = Query.where("city").is("london").and("name").contains("ad");
 * }</pre>
 *
 * <p>An empty term constrains nothing: {@code is("")} matches every record. Terms on indexed fields
 * are answered from memory; terms on other fields read the candidate records.
 */
public final class Query {
  private record Term(String field, String text, boolean partial) {}

  private final List<Term> terms;

  private Query(List<Term> terms) {
    this.terms = terms;
  }

  /**
   * Starts a query with a term on a field.
   *
   * @param field the field's name
   * @return the condition to complete with {@link Condition#is} or {@link Condition#contains}
   */
  public static Condition where(String field) {
    return new Condition(Collections.emptyList(), Arguments.present(field, "field"));
  }

  /**
   * Adds a term on another field.
   *
   * @param field the field's name
   * @return the condition to complete with {@link Condition#is} or {@link Condition#contains}
   */
  public Condition and(String field) {
    return new Condition(terms, Arguments.present(field, "field"));
  }

  /** A field waiting for its term. */
  public static final class Condition {
    private final List<Term> before;
    private final String field;

    private Condition(List<Term> before, String field) {
      this.before = before;
      this.field = field;
    }

    /**
     * Matches records whose value of the field equals the text, ignoring ASCII case.
     *
     * @param text the whole value to match
     * @return the query with this term added
     */
    public Query is(String text) {
      return with(text, false);
    }

    /**
     * Matches records whose value of the field contains the text, ignoring ASCII case.
     *
     * @param text the substring to look for
     * @return the query with this term added
     */
    public Query contains(String text) {
      return with(text, true);
    }

    private Query with(String text, boolean partial) {
      List<Term> terms = new ArrayList<>(before.size() + 1);
      terms.addAll(before);
      terms.add(new Term(field, Arguments.present(text, "text"), partial));
      return new Query(Collections.unmodifiableList(terms));
    }
  }

  /** The library's form: term i applies to field i; unused fields get an empty term. */
  record NativeTerms(boolean[] partial, String[] terms) {}

  NativeTerms resolve(Schema schema) {
    int width = 0;
    int[] fields = new int[terms.size()];
    for (int t = 0; t < fields.length; t++) {
      fields[t] = schema.indexOf(terms.get(t).field());
      width = Math.max(width, fields[t] + 1);
    }
    boolean[] partial = new boolean[width];
    String[] texts = new String[width];
    Arrays.fill(texts, "");
    for (int t = 0; t < fields.length; t++) {
      if (contains(fields, t, fields[t])) {
        throw new IllegalArgumentException("more than one term on field " + terms.get(t).field());
      }
      partial[fields[t]] = terms.get(t).partial();
      texts[fields[t]] = terms.get(t).text();
    }
    return new NativeTerms(partial, texts);
  }

  private static boolean contains(int[] fields, int end, int field) {
    for (int i = 0; i < end; i++) {
      if (fields[i] == field) {
        return true;
      }
    }
    return false;
  }

  /**
   * The terms, for example {@code city is "london" and name contains "ad"}.
   *
   * @return a readable form of the query
   */
  @Override
  public String toString() {
    StringBuilder text = new StringBuilder();
    for (Term term : terms) {
      text.append(text.length() > 0 ? " and " : "").append(term.field())
          .append(term.partial() ? " contains \"" : " is \"").append(term.text()).append('"');
    }
    return text.toString();
  }
}
