// What every page's scripts use: a count with its noun, and drawing once a frame.

const plural = (n, one, many) => `${n} ${n === 1 ? one : many}`;

// `draw`, called at the next animation frame however often it is asked for before then.
function onceAFrame(draw) {
  let pending = false;
  return () => {
    if (pending) return;
    pending = true;
    requestAnimationFrame(() => {
      pending = false;
      draw();
    });
  };
}
