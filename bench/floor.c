/* The floor of the data workloads: the least a program can do that reads the
 * datum into memory, echoes it and prints its value, written by hand in C for
 * just the forms those workloads use (quote, + and append). bench/run.py times
 * Vellumark against it; bench/README.md says what it leaves out.
 *
 * It does what the interpreter must: reads standard input into a tree of
 * pairs, prints that tree after "In:   ", evaluates it (the quoted datum
 * itself, the sum of the numbers, or the two lists joined with the first one
 * copied) and prints the value after "Out:  ", with the same banner, in the
 * same bytes. Pairs are two tagged words carved out of blocks as the
 * interpreter's values are (a small first block, then large ones backed by
 * huge pages), output goes through one large buffer, and nothing recurses, so
 * it nests as deep as memory allows. What it skips: any check that the
 * program is well formed beyond its own needs, symbols other than its three,
 * and every form but its three.
 *
 * cc -O2 -o floor bench/floor.c; floor < program
 */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

/* A value is a word: a pair's address (low bits 00), an integer shifted left
 * by two (01), a symbol's number shifted left by two (10), or the empty list. */
typedef uintptr_t value;
typedef struct pair {
  value car, cdr;
} pair;
#define EMPTY ((value)3)
#define IS_PAIR(v) (((v)&3) == 0)
#define IS_INT(v) (((v)&3) == 1)
#define INT_OF(v) ((int32_t)((intptr_t)(v) >> 2))
#define MAKE_INT(i) ((value)(((uintptr_t)(uint32_t)(i) << 2) | 1))
#define MAKE_SYMBOL(n) ((value)(((uintptr_t)(n) << 2) | 2))
#define SYMBOL_NUMBER(v) ((v) >> 2)
static const char *const symbols[] = {"quote", "+", "append"};
enum { QUOTE, PLUS, APPEND };

static void die(const char *why) {
  fprintf(stderr, "floor: %s\n", why);
  exit(2);
}

/* Blocks of memory that the kernel may back with huge pages. */
static void *block(size_t size, int huge) {
  const size_t align = huge ? (size_t)2 << 20 : 0;
  char *p = mmap(NULL, size + align, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) die("out of memory");
  if (huge) {
    /* A huge page must start at a huge-page boundary. */
    p += (align - (uintptr_t)p % align) % align;
    madvise(p, size, MADV_HUGEPAGE);
  }
  return p;
}
static pair *next_pair, *pairs_end;
static pair *new_pair(value car, value cdr) {
  if (next_pair == pairs_end) {
    /* As the interpreter does: a small first block of small pages, for small
     * inputs, then large blocks of huge pages. */
    static size_t count = (size_t)1 << 12; /* 64 KiB */
    next_pair = block(count * sizeof(pair), count >= ((size_t)1 << 17));
    pairs_end = next_pair + count;
    count = count < ((size_t)1 << 17) ? (size_t)1 << 17 : count * 2; /* 2 MiB, then doubling */
  }
  next_pair->car = car;
  next_pair->cdr = cdr;
  return next_pair++;
}

/* A growing stack of words, for the reader's and the printer's open lists. */
typedef struct {
  value *items;
  size_t size, room;
} stack;
static void push(stack *s, value v) {
  if (s->size == s->room) {
    s->room = s->room ? 2 * s->room : 1024;
    s->items = realloc(s->items, s->room * sizeof(value));
    if (!s->items) die("out of memory");
  }
  s->items[s->size++] = v;
}

/* Input, all of it at once. */
static unsigned char *input;
static size_t input_size, at;
static void read_all(void) {
  size_t room = (size_t)1 << 16;
  input = malloc(room + 1);
  for (;;) {
    if (input_size == room) {
      room *= 2;
      input = realloc(input, room + 1);
      if (!input) die("out of memory");
    }
    const ssize_t got = read(0, input + input_size, room - input_size);
    if (got < 0) die("cannot read");
    if (got == 0) break;
    input_size += (size_t)got;
  }
  input[input_size] = 0;
}
static int is_space(unsigned char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

/* Reads one datum. An open list is kept as its first pair and its last one. */
static value read_datum(void) {
  stack open = {0};
  for (;;) {
    while (is_space(input[at])) at++;
    value v;
    const unsigned char c = input[at];
    if (c == '(') {
      at++;
      push(&open, 0); /* first */
      push(&open, 0); /* last */
      continue;
    } else if (c == ')') {
      at++;
      if (open.size == 0) die("unbalanced");
      pair *last = (pair *)open.items[--open.size];
      const value first = open.items[--open.size];
      if (last) last->cdr = EMPTY;
      v = first ? first : EMPTY;
    } else if (c >= '0' && c <= '9') {
      uint32_t n = 0;
      while (input[at] >= '0' && input[at] <= '9') n = n * 10 + (uint32_t)(input[at++] - '0');
      v = MAKE_INT(n);
    } else if (c == 0) {
      die("unexpected end");
    } else {
      const size_t start = at;
      while (input[at] && !is_space(input[at]) && input[at] != '(' && input[at] != ')') at++;
      size_t n = 0;
      while (n < 3 && !(strlen(symbols[n]) == at - start && memcmp(symbols[n], input + start, at - start) == 0)) n++;
      if (n == 3) die("unknown symbol");
      v = MAKE_SYMBOL(n);
    }
    if (open.size == 0) {
      free(open.items);
      return v;
    }
    pair *cell = new_pair(v, EMPTY);
    pair *last = (pair *)open.items[open.size - 1];
    if (last) {
      last->cdr = (value)cell;
    } else {
      open.items[open.size - 2] = (value)cell;
    }
    open.items[open.size - 1] = (value)cell;
  }
}

/* Output, through one large buffer. */
static char out[1 << 20];
static size_t out_size;
static void flush(void) {
  size_t done = 0;
  while (done < out_size) {
    const ssize_t put = write(1, out + done, out_size - done);
    if (put <= 0) die("cannot write");
    done += (size_t)put;
  }
  out_size = 0;
}
static void put(char c) {
  if (out_size == sizeof out) flush();
  out[out_size++] = c;
}
static void put_text(const char *text) {
  while (*text) put(*text++);
}
static void put_int(int32_t i) {
  char digits[12];
  int n = 0;
  uint32_t u = i < 0 ? 0u - (uint32_t)i : (uint32_t)i;
  do {
    digits[n++] = (char)('0' + u % 10);
    u /= 10;
  } while (u);
  if (i < 0) put('-');
  while (n) put(digits[--n]);
}
static void put_atom(value v) {
  if (v == EMPTY) {
    put_text("()");
  } else if (IS_INT(v)) {
    put_int(INT_OF(v));
  } else {
    put_text(symbols[SYMBOL_NUMBER(v)]);
  }
}

/* Prints a datum with a stack of the pairs whose car is being printed. */
static void print(value v) {
  static stack unfinished;
  if (!IS_PAIR(v)) {
    put_atom(v);
    return;
  }
  put('(');
  const pair *cell = (const pair *)v;
  for (;;) {
    if (IS_PAIR(cell->car)) {
      put('(');
      push(&unfinished, (value)cell);
      cell = (const pair *)cell->car;
      continue;
    }
    put_atom(cell->car);
    for (;;) {
      if (cell->cdr == EMPTY) {
        put(')');
      } else if (IS_PAIR(cell->cdr)) {
        put(' ');
        cell = (const pair *)cell->cdr;
        break;
      } else {
        put_text(" . ");
        put_atom(cell->cdr);
        put(')');
      }
      if (unfinished.size == 0) return;
      cell = (const pair *)unfinished.items[--unfinished.size];
    }
  }
}

static value car(value v) {
  if (!IS_PAIR(v)) die("not a pair");
  return ((const pair *)v)->car;
}
static value cdr(value v) {
  if (!IS_PAIR(v)) die("not a pair");
  return ((const pair *)v)->cdr;
}

/* The value of a quoted datum, a sum of numbers, or an append of two quoted lists. */
static value evaluate(value form) {
  const value head = car(form);
  if (head == MAKE_SYMBOL(QUOTE)) return car(cdr(form));
  if (head == MAKE_SYMBOL(PLUS)) {
    uint32_t sum = 0;
    for (value rest = cdr(form); rest != EMPTY; rest = cdr(rest)) sum += (uint32_t)INT_OF(car(rest));
    return MAKE_INT((int32_t)sum);
  }
  if (head == MAKE_SYMBOL(APPEND)) {
    value front = evaluate(car(cdr(form)));
    const value back = evaluate(car(cdr(cdr(form))));
    if (front == EMPTY) return back;
    pair *first = new_pair(car(front), back), *last = first;
    for (front = cdr(front); front != EMPTY; front = cdr(front)) {
      pair *cell = new_pair(car(front), back);
      last->cdr = (value)cell;
      last = cell;
    }
    return (value)first;
  }
  die("unknown form");
  return EMPTY;
}

int main(void) {
  read_all();
  const value datum = read_datum();
  put_text("Vellumark\n\nIn:   ");
  print(datum);
  put('\n');
  flush();
  const value result = evaluate(datum);
  put_text("Out:  ");
  print(result);
  put('\n');
  flush();
  return 0;
}
