// Words of the pages: a count with its noun.

const plural = (n, one, many) => `${n} ${n === 1 ? one : many}`;
