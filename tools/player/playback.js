// Playback in model time: at each animation frame the clock moves on by the time that passed
// times the speed, and the step shown is the last whose time the clock has reached. At the last
// step it stops, or starts again from the first with loop on; a live run's newest step is
// followed instead: playback that reaches it goes on showing each new step as it comes, until the
// server says the run has ended.

function createPlayback(state, store, show) {
  let lastFrame = 0;

  function setStep(k) {
    const last = Math.max(0, store.steps - 1);
    state.step = Math.max(0, Math.min(last, Math.trunc(Number(k)) || 0));
    show();
  }

  function seek(k) {
    setStep(k);
    state.clock = store.time(state.step);
    state.following = false;
  }

  function tick(now) {
    if (!state.playing) return;
    state.clock += (now - lastFrame) / 1000 * state.speed;
    lastFrame = now;
    let k = state.step;
    while (k + 1 < store.steps && !(store.time(k + 1) > state.clock)) ++k;
    if (k !== state.step) setStep(k);
    if (k === store.steps - 1) {
      if (state.served && !state.ended) {
        follow();
        return;
      }
      if (!state.loop) {
        pause();
        return;
      }
      seek(0);
    }
    requestAnimationFrame(tick);
  }

  function play() {
    if (state.playing || !state.ready) return;
    state.following = false;
    if (state.step === store.steps - 1) {
      if (state.served && !state.ended) return follow();
      if (!state.loop) seek(0);
    }
    state.playing = true;
    state.clock = store.time(state.step);
    lastFrame = performance.now();
    requestAnimationFrame(tick);
    show();
  }

  function pause() {
    state.playing = false;
    state.following = false;
    show();
  }

  // A served run: show the newest step, and each new one as it comes.
  function follow() {
    if (!state.served || !state.ready) return;
    state.playing = false;
    state.following = true;
    setStep(store.steps - 1);
  }

  return {
    seek,
    play,
    pause,
    follow,
    toggle() {
      if (state.playing || state.following) pause(); else play();
    },
    // One step back or on, stopped.
    stepBy(d) {
      pause();
      seek(state.step + d);
    },
    // The store grew: a followed run shows its newest step.
    grew() {
      if (state.following) setStep(store.steps - 1);
      else show();
    },
  };
}
